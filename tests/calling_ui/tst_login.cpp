// The login window and the two password windows against a real database: role values, the
// remembered login, wrong and hostile input, old plain-text passwords, database errors.
#include "calling/ui/RememberedPassword.h"
#include "calling/ui/frmChPass.h"
#include "calling/ui/frmLogin.h"
#include "core/Connection.h"
#include "core/Passwords.h"
#include "core/Session.h"
#include "core/ui/frmSql.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "TestSupport.h"

using namespace tallyvo;

namespace {

struct Station {
    test::TempSettings settings;
    Session session;
    Connection connection{settings.store, session};
    test::ScriptedPrompt prompt;

    explicit Station(const DbUrl& url) { connection.setOverride(url); }

    std::unique_ptr<frmLogin> openLogin() {
        return std::make_unique<frmLogin>(connection, settings.store, session, prompt);
    }
};

void fill(frmLogin* w, const QString& user, const QString& pass) {
    test::control<QLineEdit>(w, "txtUser")->setText(user);
    test::control<QLineEdit>(w, "txtPass")->setText(pass);
}

} // namespace

class TestLogin : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDatabase> m_db;
    std::unique_ptr<Station> m_station;
    int m_counterA = 0;
    int m_counterB = 0;
    int m_serviceA = 0;

    Database& db() { return m_db->db(); }

    qint64 addUser(const QString& name, const QString& stored) {
        return db().insert(QStringLiteral("INSERT INTO tbluser (username, password, usertype) VALUES (?, ?, "
                                          "'Admin') RETURNING userAuto"),
                           {name, stored});
    }
    int addCounter(int service, const QString& name, const QString& user, const QString& stored,
                   const QString& active = QStringLiteral("1")) {
        return static_cast<int>(db().insert(
            QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                           "VALUES (?, ?, ?, ?, ?, ?) RETURNING cntAuto"),
            {service, name, name + QStringLiteral(" room"), user, stored, active}));
    }
    QString storedAdminPassword(qint64 key) {
        return db().scalar(QStringLiteral("SELECT password FROM tbluser WHERE userAuto=?"), {key}).toString();
    }

private slots:
    void initTestCase() {
        // Keep test passwords out of the developer's own keyring; TALLYVO_TEST_KEYRING=1 runs the
        // same cases through whatever keyring the session offers (falling back to the file).
        RememberedPassword::setKeyringAllowed(qEnvironmentVariableIsSet("TALLYVO_TEST_KEYRING"));
    }

    void init() {
        m_db = std::make_unique<test::TempDatabase>();
        m_station = std::make_unique<Station>(m_db->url());
        m_serviceA = 3;
        m_counterA = addCounter(m_serviceA, QStringLiteral("Room A"), QStringLiteral("ann"),
                                Passwords::hash(QStringLiteral("a-pass")));
        m_counterB = addCounter(4, QStringLiteral("Room B"), QStringLiteral("bob"),
                                Passwords::hash(QStringLiteral("b-pass")));
        addCounter(4, QStringLiteral("Closed room"), QStringLiteral("cid"),
                   Passwords::hash(QStringLiteral("c")), QStringLiteral("0"));
    }
    void cleanup() {
        m_station.reset();
        m_db.reset();
    }

    void adminLoginSetsRoleValuesAndRemembersProtected() {
        const qint64 key = addUser(QStringLiteral("O'NEIL"), Passwords::hash(QStringLiteral("it's me")));
        auto w = m_station->openLogin();
        QVERIFY(test::control<QRadioButton>(w.get(), "optAdmin")->isChecked());
        QVERIFY(test::control<QComboBox>(w.get(), "cmbCounter")->isHidden());
        QSignalSpy admin(w.get(), &frmLogin::adminLoggedIn);
        QSignalSpy counter(w.get(), &frmLogin::counterLoggedIn);
        test::control<QCheckBox>(w.get(), "chkRem")->setChecked(true);
        fill(w.get(), QStringLiteral("o'neil"), QStringLiteral("it's me")); // names are not case-sensitive
        w->show();
        QTest::mouseClick(test::control<QPushButton>(w.get(), "cmdLogin"), Qt::LeftButton);

        QCOMPARE(admin.count(), 1);
        QCOMPARE(counter.count(), 0);
        QVERIFY(m_station->prompt.messages.isEmpty());
        QVERIFY(!w->isVisible());
        const Session& s = m_station->session;
        QVERIFY(s.isAdmin);
        QCOMPARE(s.adminName, QStringLiteral("o'neil"));
        QCOMPARE(s.adminKey, static_cast<int>(key));

        SettingsStore& st = m_station->settings.store;
        QCOMPARE(st.get(Keys::LoginRem), QStringLiteral("1"));
        QCOMPARE(st.get(Keys::LoginType), QStringLiteral("optAdmin"));
        QCOMPARE(st.get(Keys::LoginName), QStringLiteral("o'neil"));
        // The password is not in the settings file as typed, and the file is the user's alone.
        QVERIFY(!st.get(Keys::LoginPass).contains(QStringLiteral("it's me")));
        QVERIFY(!st.get(Keys::LoginPass).isEmpty());
        QFile file(st.folder() + QStringLiteral("/queue.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("it's me"));
        st.set(Keys::DisplayAuto, QStringLiteral("1")); // another write keeps the protection
        QCOMPARE(file.permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());

        // The next start fills everything in, and "Login" alone logs in again.
        Station next(m_db->url());
        QFile::copy(file.fileName(), next.settings.store.folder() + QStringLiteral("/queue.ini"));
        auto again = next.openLogin();
        QVERIFY(test::control<QCheckBox>(again.get(), "chkRem")->isChecked());
        QCOMPARE(test::control<QLineEdit>(again.get(), "txtUser")->text(), QStringLiteral("o'neil"));
        QCOMPARE(test::control<QLineEdit>(again.get(), "txtPass")->text(), QStringLiteral("it's me"));
        QSignalSpy admin2(again.get(), &frmLogin::adminLoggedIn);
        again->login();
        QCOMPARE(admin2.count(), 1);
    }

    void untickedMemorizeForgetsCredentialsButKeepsRem() {
        addUser(QStringLiteral("ADA"), Passwords::hash(QStringLiteral("pw")));
        SettingsStore& st = m_station->settings.store;
        {
            auto w = m_station->openLogin();
            test::control<QCheckBox>(w.get(), "chkRem")->setChecked(true);
            fill(w.get(), QStringLiteral("ADA"), QStringLiteral("pw"));
            w->login();
        }
        {
            auto w = m_station->openLogin();
            QCOMPARE(test::control<QLineEdit>(w.get(), "txtPass")->text(), QStringLiteral("pw"));
            test::control<QCheckBox>(w.get(), "chkRem")->setChecked(false);
            w->login();
            QVERIFY(m_station->session.isAdmin);
        }
        QCOMPARE(st.get(Keys::LoginRem), QStringLiteral("1"));
        QCOMPARE(st.get(Keys::LoginName), QString());
        QCOMPARE(st.get(Keys::LoginPass), QString());
        auto w = m_station->openLogin();
        QVERIFY(test::control<QCheckBox>(w.get(), "chkRem")->isChecked());
        QCOMPARE(test::control<QLineEdit>(w.get(), "txtUser")->text(), QString());
        QCOMPARE(test::control<QLineEdit>(w.get(), "txtPass")->text(), QString());
    }

    void counterLoginNeedsTheRightCounter() {
        auto w = m_station->openLogin();
        w->show();
        QSignalSpy counter(w.get(), &frmLogin::counterLoggedIn);
        test::control<QRadioButton>(w.get(), "optCounter")->setChecked(true);
        auto* cmb = test::control<QComboBox>(w.get(), "cmbCounter");
        QVERIFY(cmb->isVisible());
        // Only active counters are offered.
        QStringList names;
        for (int i = 0; i < cmb->count(); ++i)
            names << cmb->itemText(i);
        QCOMPARE(names, QStringList({QStringLiteral("Room A"), QStringLiteral("Room B")}));

        // Ann's login is for Room A only.
        cmb->setEditText(QStringLiteral("Room B"));
        fill(w.get(), QStringLiteral("ann"), QStringLiteral("a-pass"));
        w->login();
        QCOMPARE(m_station->prompt.messages,
                 QStringList{QStringLiteral("Please enter a valid Username and Password")});
        QCOMPARE(counter.count(), 0);
        QCOMPARE(m_station->session.activeCounter, 0);

        // An inactive counter does not log in even with its own credentials.
        cmb->setEditText(QStringLiteral("Closed room"));
        fill(w.get(), QStringLiteral("cid"), QStringLiteral("c"));
        w->login();
        QCOMPARE(m_station->prompt.messages.size(), 2);

        m_station->session.isAdmin = true;
        cmb->setEditText(QStringLiteral("Room A"));
        fill(w.get(), QStringLiteral("ann"), QStringLiteral("a-pass"));
        w->login();
        QCOMPARE(counter.count(), 1);
        QCOMPARE(m_station->session.activeCounter, m_counterA);
        QCOMPARE(m_station->session.activeService, m_serviceA);
        QVERIFY(!m_station->session.isAdmin);
        QCOMPARE(m_station->session.counterName, QStringLiteral("Room A"));
        // "Memorize " unticked: a counter login saves and clears nothing.
        QVERIFY(!m_station->settings.store.contains(Keys::LoginRem));
    }

    void rememberedCounterLoginIsFilledIn() {
        {
            auto w = m_station->openLogin();
            test::control<QRadioButton>(w.get(), "optCounter")->setChecked(true);
            test::control<QComboBox>(w.get(), "cmbCounter")->setEditText(QStringLiteral("Room B"));
            test::control<QCheckBox>(w.get(), "chkRem")->setChecked(true);
            fill(w.get(), QStringLiteral("bob"), QStringLiteral("b-pass"));
            w->login();
            QCOMPARE(m_station->session.activeCounter, m_counterB);
        }
        QCOMPARE(m_station->settings.store.get(Keys::LoginType), QStringLiteral("optCounter"));
        QCOMPARE(m_station->settings.store.get(Keys::LoginCounter), QStringLiteral("Room B"));
        m_station->session.activeCounter = 0;
        auto w = m_station->openLogin();
        w->show();
        QVERIFY(test::control<QRadioButton>(w.get(), "optCounter")->isChecked());
        QVERIFY(test::control<QComboBox>(w.get(), "cmbCounter")->isVisible());
        QCOMPARE(test::control<QComboBox>(w.get(), "cmbCounter")->currentText(), QStringLiteral("Room B"));
        QCOMPARE(test::control<QLineEdit>(w.get(), "txtUser")->text(), QStringLiteral("bob"));
        QSignalSpy counter(w.get(), &frmLogin::counterLoggedIn);
        w->login(); // what the start-up does with Display/Auto = 1
        QCOMPARE(counter.count(), 1);
        QCOMPARE(m_station->session.activeCounter, m_counterB);
    }

    void plainTextPasswordFromOlderSettingsIsMovedOutOfSight() {
        SettingsStore& st = m_station->settings.store;
        st.set(Keys::LoginRem, QStringLiteral("1"));
        st.set(Keys::LoginName, QStringLiteral("ADMIN"));
        st.set(Keys::LoginPass, QStringLiteral("old plain"));
        auto w = m_station->openLogin();
        QCOMPARE(test::control<QLineEdit>(w.get(), "txtPass")->text(), QStringLiteral("old plain"));
        QVERIFY(st.get(Keys::LoginPass) != QStringLiteral("old plain"));
        QCOMPARE(RememberedPassword(st).read(), QStringLiteral("old plain"));
    }

    void wrongAndHostileCredentialsFailQuietly() {
        addUser(QStringLiteral("ADMIN2"), Passwords::hash(QStringLiteral("right")));
        auto w = m_station->openLogin();
        QSignalSpy admin(w.get(), &frmLogin::adminLoggedIn);
        const QList<QPair<QString, QString>> attempts = {
            {QStringLiteral("ADMIN2"), QStringLiteral("wrong")},
            {QStringLiteral("ADMIN2"), QString()},
            {QStringLiteral("x' OR '1'='1"), QStringLiteral("' OR ''='")},
            {QStringLiteral("ADMIN2'--"), QStringLiteral("anything")},
            {QStringLiteral("'); DROP TABLE tbluser; --"), QStringLiteral("'")},
        };
        for (const auto& [user, pass] : attempts) {
            fill(w.get(), user, pass);
            w->login();
        }
        QCOMPARE(admin.count(), 0);
        QCOMPARE(m_station->prompt.messages,
                 QStringList(attempts.size(), QStringLiteral("Please enter a valid username and password")));
        QVERIFY(w->sqlWindow() == nullptr);
        QVERIFY(!m_station->session.isAdmin);
        QVERIFY(db().hasTable(QStringLiteral("tbluser")));
    }

    void oldPlainTextPasswordIsAcceptedAndRehashed() {
        const qint64 key = addUser(QStringLiteral("OLDIE"), QStringLiteral("plain'pw"));
        auto w = m_station->openLogin();
        fill(w.get(), QStringLiteral("OLDIE"), QStringLiteral("plain'pw"));
        w->login();
        QVERIFY(m_station->session.isAdmin);
        const QString stored = storedAdminPassword(key);
        QVERIFY(Passwords::isHash(stored));
        QCOMPARE(Passwords::verify(stored, QStringLiteral("plain'pw")), Passwords::Check::Match);

        // A counter's plain-text password likewise.
        const int c = addCounter(5, QStringLiteral("Legacy"), QStringLiteral("leg"), QStringLiteral("1234"));
        test::control<QRadioButton>(w.get(), "optCounter")->setChecked(true);
        test::control<QComboBox>(w.get(), "cmbCounter")->setEditText(QStringLiteral("Legacy"));
        fill(w.get(), QStringLiteral("leg"), QStringLiteral("1234"));
        w->login();
        QCOMPARE(m_station->session.activeCounter, c);
        QVERIFY(Passwords::isHash(
            db().scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE cntAuto=?"), {c}).toString()));
    }

    void databaseErrorOpensConnectionWindow() {
        auto w = m_station->openLogin();
        db().run(QStringLiteral("DROP TABLE tbluser"));
        fill(w.get(), QStringLiteral("ADMIN"), QStringLiteral("admin"));
        w->login();
        QVERIFY(w->sqlWindow() != nullptr);
        QVERIFY(w->sqlWindow()->isVisible());
        QVERIFY(m_station->prompt.messages.isEmpty());
        QVERIFY(!m_station->session.isAdmin);
    }

    void enterKeysLeadToLogin() {
        auto w = m_station->openLogin();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QSignalSpy counter(w.get(), &frmLogin::counterLoggedIn);
        test::control<QRadioButton>(w.get(), "optCounter")->setChecked(true);
        auto* cmb = test::control<QComboBox>(w.get(), "cmbCounter");
        QTRY_VERIFY(cmb->hasFocus());
        cmb->setEditText(QStringLiteral("Room A"));
        QTest::keyClick(cmb, Qt::Key_Return);
        auto* user = test::control<QLineEdit>(w.get(), "txtUser");
        QTRY_VERIFY(user->hasFocus());
        QTest::keyClicks(user, QStringLiteral("ann"));
        QTest::keyClick(user, Qt::Key_Return);
        auto* pass = test::control<QLineEdit>(w.get(), "txtPass");
        QTRY_VERIFY(pass->hasFocus());
        QTest::keyClicks(pass, QStringLiteral("a-pass"));
        QTest::keyClick(pass, Qt::Key_Return);
        QCOMPARE(counter.count(), 1);
        QCOMPARE(cmb->count(), 2); // Enter did not add the typed name to the list
    }

    void exitAsksTheProgramToEnd() {
        auto w = m_station->openLogin();
        QSignalSpy exit(w.get(), &frmLogin::exitRequested);
        QTest::mouseClick(test::control<QPushButton>(w.get(), "cmdExit"), Qt::LeftButton);
        QCOMPARE(exit.count(), 1);
    }

    void counterPasswordWindow() {
        m_station->session.activeCounter = m_counterA;
        frmChPass w(m_station->connection, m_station->session, m_station->prompt);
        QCOMPARE(w.windowTitle(), QStringLiteral("Change Password"));
        m_station->connection.connectDb();
        auto set = [&](const QString& o, const QString& n, const QString& c) {
            test::control<QLineEdit>(&w, "txtOld")->setText(o);
            test::control<QLineEdit>(&w, "txtNew")->setText(n);
            test::control<QLineEdit>(&w, "txtConf")->setText(c);
        };
        auto stored = [&] {
            return db()
                .scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE cntAuto=?"), {m_counterA})
                .toString();
        };
        const QString before = stored();
        w.show();

        set(QStringLiteral("a-pass"), QStringLiteral("new'1"), QStringLiteral("new'2"));
        w.change();
        set(QStringLiteral("nope"), QStringLiteral("new'1"), QStringLiteral("new'1"));
        w.change();
        QCOMPARE(stored(), before);
        QVERIFY(w.isVisible());

        set(QStringLiteral("a-pass"), QStringLiteral("new'1"), QStringLiteral("new'1"));
        QTest::keyClick(test::control<QLineEdit>(&w, "txtConf"), Qt::Key_Return);
        // Refused input is an exclamation, the change a notice.
        QCOMPARE(m_station->prompt.alerts,
                 (QList<QPair<Prompt::Icon, QString>>{
                     {Prompt::Icon::Exclamation, QStringLiteral("Passwords are not same")},
                     {Prompt::Icon::Exclamation, QStringLiteral("Please enter a valid old password")},
                     {Prompt::Icon::Information, QStringLiteral("Password Changed ")}}));
        QVERIFY(!w.isVisible());
        QCOMPARE(Passwords::verify(stored(), QStringLiteral("new'1")), Passwords::Check::Match);
        // Other counters keep theirs.
        QCOMPARE(Passwords::verify(
                     db().scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE cntAuto=?"), {m_counterB})
                         .toString(),
                     QStringLiteral("b-pass")),
                 Passwords::Check::Match);
    }

    void adminPasswordWindowAcceptsOldPlainText() {
        const qint64 key = addUser(QStringLiteral("BOSS"), QStringLiteral("plain"));
        const qint64 other = addUser(QStringLiteral("OTHER"), QStringLiteral("plain"));
        m_station->session.adminKey = static_cast<int>(key);
        m_station->connection.connectDb();
        frmAdminPass w(m_station->connection, m_station->session, m_station->prompt);
        QCOMPARE(w.windowTitle(), QStringLiteral("Change Admin Password"));
        QCOMPARE(w.objectName(), QStringLiteral("frmAdminPass"));
        test::control<QLineEdit>(&w, "txtOld")->setText(QStringLiteral("plain"));
        test::control<QLineEdit>(&w, "txtNew")->setText(QStringLiteral("better"));
        test::control<QLineEdit>(&w, "txtConf")->setText(QStringLiteral("better"));
        QTest::mouseClick(test::control<QPushButton>(&w, "cmdChange"), Qt::LeftButton);
        QCOMPARE(m_station->prompt.messages, QStringList{QStringLiteral("Password Changed ")});
        QCOMPARE(Passwords::verify(storedAdminPassword(key), QStringLiteral("better")),
                 Passwords::Check::Match);
        QCOMPARE(storedAdminPassword(other), QStringLiteral("plain"));
    }
};

TALLYVO_TEST_MAIN(TestLogin)
#include "tst_login.moc"
