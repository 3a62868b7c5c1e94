#include "core/SettingsStore.h"

#include "core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace tallyvo {

namespace {

QString entry(const QString& section, const QString& key)
{
    return section.toLower() + QLatin1Char('/') + key.toLower();
}

// The entry as the file spells it: the program writes lower case, a hand-written file may say
// [SQL] and Database=. Empty when the file does not have it.
QString spelledEntry(const QSettings& s, const QString& wanted)
{
    if (s.contains(wanted))
        return wanted;
    const QStringList keys = s.allKeys();
    for (const QString& k : keys) {
        if (k.compare(wanted, Qt::CaseInsensitive) == 0)
            return k;
    }
    return QString();
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
    const QString spelled = spelledEntry(s, entry(section, key));
    if (spelled.isEmpty())
        return fallback;
    const QVariant v = s.value(spelled);
    // A value that holds a comma is read back as a list; it was written as one text.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

bool SettingsStore::contains(const QString& app, const QString& section, const QString& key) const
{
    const QSettings s(fileFor(app), QSettings::IniFormat);
    return !spelledEntry(s, entry(section, key)).isEmpty();
}

void SettingsStore::setValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    const QString file = fileFor(app);
    ensureOwnerOnlyFile(file);
    {
        QSettings probe(file, QSettings::IniFormat);
        if (probe.status() == QSettings::FormatError) {
            // An unreadable file would swallow every write: keep it aside and start a fresh one.
            QFile::remove(file + QStringLiteral(".bad"));
            QFile::rename(file, file + QStringLiteral(".bad"));
            ensureOwnerOnlyFile(file);
        }
    }
    QSettings s(file, QSettings::IniFormat);
    const QString wanted = entry(section, key);
    // One entry per name: another spelling of it would be read instead of this value.
    const QStringList keys = s.allKeys();
    for (const QString& k : keys) {
        if (k != wanted && k.compare(wanted, Qt::CaseInsensitive) == 0)
            s.remove(k);
    }
    s.setValue(wanted, value);
    s.sync();
}

void SettingsStore::ensureOwnerOnlyFile(const QString& file) const
{
    // The files hold the SQL password and remembered logins: the folder and each file are the
    // user's alone from the first write. QSettings keeps the mode of the file it replaces.
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    Paths::makeOwnerFolders(m_folder);
    if (!QFileInfo::exists(file)) {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly, owner))
            f.close();
    }
}

int SettingsStore::getInt(const SettingKey& k) const
{
    bool ok = false;
    const int v = get(k).trimmed().toInt(&ok);
    return ok ? v : k.fallback.toInt();
}

} // namespace tallyvo
