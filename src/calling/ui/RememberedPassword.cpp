#include "calling/ui/RememberedPassword.h"

#include "core/SettingsStore.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace tallyvo {

namespace {

const QString keyringMarker = QStringLiteral("keyring:");
const QString obfuscatedPrefix = QStringLiteral("obf1:");
const QString keyringService = QStringLiteral("Tallyvo");

bool g_keyringAllowed = true;

bool keyringReachable() {
    if (!g_keyringAllowed)
        return false;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return true;
#else
    // Every keyring of a Linux desktop is reached over the session bus; without one, do not wait
    // for a backend that cannot answer.
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
#endif
}

// Runs a keychain job to its end (a keyring that has to ask the user may take a while) and tells
// whether it succeeded.
bool runJob(QKeychain::Job& job) {
    job.setAutoDelete(false);
    bool done = false;
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    job.start();
    if (!done)
        loop.exec();
    return done && job.error() == QKeychain::NoError;
}

// Not encryption: the key lives beside the file. It keeps the password out of sight of anyone
// glancing at the file, whose permissions do the real work.
QByteArray keyStream(qsizetype length) {
    QByteArray stream;
    for (int block = 0; stream.size() < length; ++block) {
        stream += QCryptographicHash::hash(QByteArrayLiteral("tallyvo-login/") + QByteArray::number(block),
                                           QCryptographicHash::Sha256);
    }
    return stream.left(length);
}

QByteArray xorWith(QByteArray data, const QByteArray& stream) {
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(data[i] ^ stream[i]);
    return data;
}

} // namespace

RememberedPassword::RememberedPassword(SettingsStore& settings)
    : m_settings(settings) {}

void RememberedPassword::setKeyringAllowed(bool allowed) {
    g_keyringAllowed = allowed;
}

QString RememberedPassword::keyringKey() const {
    // One entry per settings folder, so --profile stations remember their own logins.
    return QStringLiteral("login:") + m_settings.folder();
}

void RememberedPassword::protectFile() const {
    // The settings store keeps application "Queue" in queue.ini of its folder.
    const QString file =
        m_settings.folder() + QLatin1Char('/') + Keys::LoginPass.app.toLower() + QStringLiteral(".ini");
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

QString RememberedPassword::read() {
    const QString stored = m_settings.get(Keys::LoginPass);
    if (stored.isEmpty()) {
        m_where = Where::Nowhere;
        return QString();
    }
    if (stored == keyringMarker) {
        m_where = Where::Keyring;
        if (!keyringReachable())
            return QString();
        QKeychain::ReadPasswordJob job(keyringService);
        job.setKey(keyringKey());
        return runJob(job) ? job.textData() : QString();
    }
    if (stored.startsWith(obfuscatedPrefix)) {
        m_where = Where::SettingsFile;
        const QByteArray data = QByteArray::fromBase64(stored.mid(obfuscatedPrefix.size()).toLatin1());
        return QString::fromUtf8(xorWith(data, keyStream(data.size())));
    }
    // Left in plain text by an older version: move it out of sight now.
    write(stored);
    return stored;
}

void RememberedPassword::write(const QString& password) {
    // The file holds the login name either way: keep it the user's alone.
    protectFile();
    const bool wasInKeyring = m_settings.get(Keys::LoginPass) == keyringMarker;
    if (password.isEmpty()) {
        m_settings.set(Keys::LoginPass, QString());
        m_where = Where::Nowhere;
        if (wasInKeyring && keyringReachable()) {
            QKeychain::DeletePasswordJob job(keyringService);
            job.setKey(keyringKey());
            runJob(job);
        }
        return;
    }
    if (keyringReachable()) {
        QKeychain::WritePasswordJob job(keyringService);
        job.setKey(keyringKey());
        job.setTextData(password);
        if (runJob(job)) {
            m_settings.set(Keys::LoginPass, keyringMarker);
            protectFile();
            m_where = Where::Keyring;
            return;
        }
    }
    const QByteArray data = password.toUtf8();
    m_settings.set(Keys::LoginPass,
                   obfuscatedPrefix + QString::fromLatin1(xorWith(data, keyStream(data.size())).toBase64()));
    protectFile();
    m_where = Where::SettingsFile;
}

} // namespace tallyvo
