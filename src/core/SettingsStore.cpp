#include "core/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace tallyvo {

namespace {

QString entry(const QString& section, const QString& key)
{
    return section.toLower() + QLatin1Char('/') + key.toLower();
}

} // namespace

SettingsStore::SettingsStore(QString folder)
    : m_folder(std::move(folder))
{
}

QString SettingsStore::folderFor(const QString& profile)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    base += QStringLiteral("/tallyvo");
    if (profile.isEmpty())
        return base;
    return base + QStringLiteral("/profiles/") + profile;
}

bool SettingsStore::isValidProfile(const QString& profile)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    return allowed.match(profile).hasMatch() && profile != QLatin1String(".") && profile != QLatin1String("..");
}

QString SettingsStore::fileFor(const QString& app) const
{
    return m_folder + QLatin1Char('/') + app.toLower() + QStringLiteral(".ini");
}

QString SettingsStore::value(const QString& app, const QString& section, const QString& key,
                             const QString& fallback) const
{
    const QSettings s(fileFor(app), QSettings::IniFormat);
    const QVariant v = s.value(entry(section, key));
    if (!v.isValid())
        return fallback;
    return v.toString();
}

bool SettingsStore::contains(const QString& app, const QString& section, const QString& key) const
{
    const QSettings s(fileFor(app), QSettings::IniFormat);
    return s.contains(entry(section, key));
}

void SettingsStore::setValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    QDir().mkpath(m_folder);
    const QString file = fileFor(app);
    {
        QSettings probe(file, QSettings::IniFormat);
        if (probe.status() == QSettings::FormatError) {
            // An unreadable file would swallow every write: keep it aside and start a fresh one.
            QFile::remove(file + QStringLiteral(".bad"));
            QFile::rename(file, file + QStringLiteral(".bad"));
        }
    }
    QSettings s(file, QSettings::IniFormat);
    s.setValue(entry(section, key), value);
    s.sync();
}

int SettingsStore::getInt(const SettingKey& k) const
{
    bool ok = false;
    const int v = get(k).trimmed().toInt(&ok);
    return ok ? v : k.fallback.toInt();
}

} // namespace tallyvo
