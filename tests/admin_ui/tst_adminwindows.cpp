// The administration windows against a real database: the list/record pairs of departments,
// services and counters as an administrator drives them, and what the rest of the system then
// finds (lookups, the counter login).
#include "admin/ui/frmCntLst.h"
#include "admin/ui/frmDeptLst.h"
#include "admin/ui/frmUserLst.h"
#include "admin/ui/frmVideoLst.h"
#include "calling/Credentials.h"
#include "core/Connection.h"
#include "core/Passwords.h"
#include "core/Session.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "GridTouch.h"
#include "TestSupport.h"

using namespace tallyvo;

namespace {

struct Station {
    test::TempSettings settings;
    Session session;
    Connection connection{settings.store, session};
    test::ScriptedPrompt prompt;

    explicit Station(const DbUrl& url) { connection.setOverride(url); }
};

void type(QWidget* w, const char* name, const QString& text)
{
    test::control<QLineEdit>(w, name)->setText(text);
}

void click(QWidget* w, const char* name)
{
    test::control<QPushButton>(w, name)->click();
}

QStringList column(Grid* g, int col)
{
    QStringList out;
    for (int r = 1; r < g->rows(); ++r)
        out << g->textMatrix(r, col);
    return out;
}

} // namespace

class tst_adminwindows : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_t = std::make_unique<test::TempDatabase>();
        m_st = std::make_unique<Station>(m_t->url());
    }
    void cleanup()
    {
        m_st.reset();
        m_t.reset();
    }

    void departmentsAndServices();
    void serviceTargetWait_data();
    void serviceTargetWait();
    void counters();
    void refusedSaveClosesAndRefills();
    void videoList();
    void usersAndCompany();

private:
    Database& db() { return m_t->db(); }
    test::ScriptedPrompt& prompt() { return m_st->prompt; }

    std::unique_ptr<test::TempDatabase> m_t;
    std::unique_ptr<Station> m_st;
};

void tst_adminwindows::departmentsAndServices()
{
    db().run(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Closed', '', '0')"));
    frmDeptLst depts(m_st->connection, prompt());
    depts.show();
    QCOMPARE(depts.windowTitle(), QStringLiteral("Deparment Lst"));
    QCOMPARE(column(depts.grid(), 2), QStringList{QStringLiteral("Closed")});

    // A department typed with an apostrophe, through its record window.
    click(&depts, "Command3");
    QPointer<RecordWindow> dept = depts.recordWindow();
    QCOMPARE(dept->windowTitle(), QStringLiteral("Department"));
    QVERIFY(test::control<QCheckBox>(dept, "chkActive")->isChecked());
    click(dept, "Command2");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Department name should not be blank"));
    type(dept, "txtDept", QStringLiteral("Children's Ward"));
    click(dept, "Command2");
    QTRY_VERIFY(!dept);
    QCOMPARE(column(depts.grid(), 2), (QStringList{QStringLiteral("Closed"), QStringLiteral("Children's Ward")}));
    QCOMPARE(column(depts.grid(), 3), (QStringList{QStringLiteral("0"), QStringLiteral("1")}));

    // A service: only active departments are offered; checks stop at the first failure and
    // keep the window open with what was typed.
    frmServLst services(m_st->connection, prompt());
    services.show();
    click(&services, "Command3");
    QPointer<RecordWindow> serv = services.recordWindow();
    QCOMPARE(serv->windowTitle(), QStringLiteral("Service Details"));
    auto* cmbDept = test::control<QComboBox>(serv, "cmbDept");
    QCOMPARE(cmbDept->count(), 1);
    QCOMPARE(cmbDept->itemText(0), QStringLiteral("Children's Ward"));
    QCOMPARE(test::control<QLineEdit>(serv, "txtNo")->text(), QStringLiteral("0"));
    QCOMPARE(test::control<QLineEdit>(serv, "txtEnd")->text(), QStringLiteral("0"));
    type(serv, "txtServ", QStringLiteral("O'Brien's Clinic"));
    click(serv, "Command2");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Please Check Starting and Ending Number"));
    QVERIFY(serv->isVisible());
    type(serv, "txtNo", QStringLiteral("1"));
    type(serv, "txtEnd", QStringLiteral("300.0"));
    click(serv, "Command2");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Select a department name"));
    cmbDept->setCurrentIndex(0);
    type(serv, "txtAbr", QStringLiteral("K"));
    test::control<QPlainTextEdit>(serv, "txtDesc")->setPlainText(QStringLiteral("Bring the child's card"));
    click(serv, "Command2");
    QTRY_VERIFY(!serv);
    Grid* g = services.grid();
    QCOMPARE(g->rows(), 2);
    QCOMPARE(g->textMatrix(1, 2), QStringLiteral("Children's Ward"));
    QCOMPARE(g->textMatrix(1, 3), QStringLiteral("O'Brien's Clinic"));
    QCOMPARE(g->textMatrix(1, 5), QStringLiteral("300.0"));
    QCOMPARE(g->textMatrix(1, 6), QStringLiteral("K"));
    const QString key = g->textMatrix(1, 0);

    // Editing fills the window with that service and saves that record.
    QVERIFY(test::touchRow(g, QStringLiteral("1")));
    services.editSelected();
    serv = services.recordWindow();
    QCOMPARE(serv->key(), key);
    cmbDept = test::control<QComboBox>(serv, "cmbDept");
    QCOMPARE(cmbDept->currentText(), QStringLiteral("Children's Ward"));
    QCOMPARE(test::control<QPlainTextEdit>(serv, "txtDesc")->toPlainText(), QStringLiteral("Bring the child's card"));
    type(serv, "txtEnd", QStringLiteral("150"));
    click(serv, "Command2");
    QTRY_VERIFY(!serv);
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblService")).toInt(), 1);
    QCOMPARE(db().scalar(QStringLiteral("SELECT endno FROM tblService WHERE servAuto=?"), {key}).toString(),
             QStringLiteral("150"));
    // "Add" afterwards is empty again.
    services.addRecord();
    QCOMPARE(services.recordWindow()->key(), QString());
    QCOMPARE(test::control<QLineEdit>(services.recordWindow(), "txtServ")->text(), QString());
    services.recordWindow()->close();

    // Delete rules. The department with a service is refused without a question.
    prompt().messages.clear();
    QVERIFY(test::touchRow(depts.grid(), QStringLiteral("Children's Ward"), 2));
    click(&depts, "Command2");
    QCOMPARE(prompt().messages, QStringList{QStringLiteral("Cannot delete ")});
    QVERIFY(prompt().questions.isEmpty());
    // The service: No does nothing; Yes with a token of another day is refused.
    db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended) "
                            "VALUES (?, 1, '2020-02-02', '09:00:00', '1', 'K1', 0)"),
             {key});
    QVERIFY(test::touchRow(g, QStringLiteral("1")));
    click(&services, "Command2");
    QCOMPARE(prompt().questions, QStringList{QStringLiteral("Do you want to delete ")});
    QCOMPARE(prompt().messages.size(), 1);
    prompt().answers.enqueue(true);
    click(&services, "Command2");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Cannot delete "));
    db().run(QStringLiteral("DELETE FROM tblTicket"));
    prompt().answers.enqueue(true);
    click(&services, "Command2");
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblService")).toInt(), 0);
    // The deleted row stays until the list is filled again.
    QCOMPARE(g->rows(), 2);
    QVERIFY(test::touchRow(depts.grid(), QStringLiteral("Children's Ward"), 2));
    click(&depts, "Command2");
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblDept")).toInt(), 1);
}

void tst_adminwindows::serviceTargetWait_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message"); // "" when saved
    QTest::addColumn<QVariant>("stored");
    const QString refused =
        QStringLiteral("Cannot Save. The target wait is whole minutes from 1 to 1440, or empty for none");
    const QVariant none(QMetaType(QMetaType::Int));
    QTest::newRow("empty is none") << "" << "" << none;
    QTest::newRow("blanks are none") << "  " << "" << none;
    QTest::newRow("whole minutes") << "15" << "" << QVariant(15);
    QTest::newRow("with blanks") << " 20 " << "" << QVariant(20);
    QTest::newRow("a day") << "1440" << "" << QVariant(1440);
    QTest::newRow("zero") << "0" << refused << none;
    QTest::newRow("negative") << "-5" << refused << none;
    QTest::newRow("fraction") << "7.5" << refused << none;
    QTest::newRow("text") << "ten" << refused << none;
    QTest::newRow("over a day") << "1441" << refused << none;
}

void tst_adminwindows::serviceTargetWait()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QVariant, stored);
    db().run(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Lab', '', '1')"));
    frmServLst services(m_st->connection, prompt());
    services.show();
    click(&services, "Command3");
    QPointer<RecordWindow> serv = services.recordWindow();
    // Below the existing fields, empty for a new service.
    auto* sla = test::control<QLineEdit>(serv, "txtSla");
    QCOMPARE(sla->text(), QString());
    QVERIFY(sla->mapTo(serv, QPoint(0, 0)).y() > test::control<QLineEdit>(serv, "txtAbr")->mapTo(serv, QPoint(0, 0)).y());
    test::control<QComboBox>(serv, "cmbDept")->setCurrentIndex(0);
    type(serv, "txtServ", QStringLiteral("Blood"));
    type(serv, "txtNo", QStringLiteral("1"));
    type(serv, "txtEnd", QStringLiteral("99"));
    type(serv, "txtSla", typed);
    click(serv, "Command2");
    if (!message.isEmpty()) {
        // Refused with the window open as it was, nothing stored.
        QCOMPARE(prompt().messages.last(), message);
        QVERIFY(serv && serv->isVisible());
        QCOMPARE(sla->text(), typed);
        QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblService")).toInt(), 0);
        return;
    }
    QTRY_VERIFY(!serv);
    const QVariant value = db().scalar(QStringLiteral("SELECT slaMinutes FROM tblService"));
    QCOMPARE(value.isNull(), stored.isNull());
    if (!stored.isNull())
        QCOMPARE(value.toInt(), stored.toInt());

    // Editing shows it again, and emptying it takes the target away.
    QVERIFY(test::touchRow(services.grid(), QStringLiteral("1")));
    services.editSelected();
    serv = services.recordWindow();
    QCOMPARE(test::control<QLineEdit>(serv, "txtSla")->text(), stored.isNull() ? QString() : stored.toString());
    type(serv, "txtSla", QString());
    click(serv, "Command2");
    QTRY_VERIFY(!serv);
    QVERIFY(db().scalar(QStringLiteral("SELECT slaMinutes FROM tblService")).isNull());
}

void tst_adminwindows::counters()
{
    db().run(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Ward', '', '1')"));
    const int ward = db().scalar(QStringLiteral("SELECT deptAuto FROM tblDept")).toInt();
    for (const char* s : {"Kid's Care", "Closed Care"})
        db().run(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                                "VALUES (?, ?, '', ?, '1', '99', 'K')"),
                 {ward, QString::fromUtf8(s), QString::fromUtf8(s).startsWith(QLatin1String("Kid")) ? QStringLiteral("1") : QStringLiteral("0")});

    frmCntLst list(m_st->connection, prompt());
    list.show();
    QCOMPARE(list.windowTitle(), QStringLiteral("Counter List"));
    auto add = [&](const QString& service, const QString& name, const QString& pass, const QString& pass2) {
        list.addRecord();
        RecordWindow* w = list.recordWindow();
        test::control<QComboBox>(w, "cmbServ")->setEditText(service);
        type(w, "txtname", name);
        type(w, "txtDesc", name + QStringLiteral(" room"));
        type(w, "txtUser", QStringLiteral("op"));
        type(w, "txtPass", pass);
        type(w, "txtPass1", pass2);
        click(w, "Command2");
    };
    QPointer<RecordWindow> w;
    add(QStringLiteral("Kid's Care"), QStringLiteral("Zed"), QStringLiteral("Pw"), QStringLiteral("pw"));
    QCOMPARE(prompt().messages.last(), QStringLiteral("Passwords should be same "));
    w = list.recordWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Couter"));
    QCOMPARE(test::control<QComboBox>(w, "cmbServ")->count(), 1); // active services only
    type(w, "txtPass1", QStringLiteral("Pw"));
    click(w, "Command2");
    QTRY_VERIFY(!w);
    add(QStringLiteral("Kid's Care"), QStringLiteral("Dr. D'Souza"), QString(), QString());
    add(QStringLiteral("Kid's Care"), QStringLiteral("Alpha"), QString(), QString());
    QCOMPARE(column(list.grid(), 4),
             (QStringList{QStringLiteral("Alpha"), QStringLiteral("Dr. D'Souza"), QStringLiteral("Zed")}));
    QCOMPARE(column(list.grid(), 1), (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));

    // The hashed password logs in, with the apostrophe names.
    QVERIFY(Credentials::checkCounter(db(), QStringLiteral("Zed"), QStringLiteral("op"), QStringLiteral("Pw")));
    QVERIFY(!Credentials::checkCounter(db(), QStringLiteral("Zed"), QStringLiteral("op"), QStringLiteral("pw")));
    QVERIFY(Credentials::checkCounter(db(), QStringLiteral("Dr. D'Souza"), QStringLiteral("op"), QString()));

    // Editing: empty password boxes with a note; saving keeps the password. The counter is moved
    // to the inactive service first, directly, and is still editable.
    db().run(QStringLiteral("UPDATE tblCounter SET servAuto=(SELECT servAuto FROM tblService WHERE ServName='Closed "
                            "Care') WHERE contName='Zed'"));
    const QString stored =
        db().scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE contName='Zed'")).toString();
    const int fills = list.fillCount();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&list, &activate);
    QCOMPARE(list.fillCount(), fills); // this list refills only when told
    list.addFG();
    QVERIFY(test::touchRow(list.grid(), QStringLiteral("Zed"), 4));
    list.editSelected();
    w = list.recordWindow();
    QCOMPARE(test::control<QComboBox>(w, "cmbServ")->currentText(), QStringLiteral("Closed Care"));
    QCOMPARE(test::control<QLineEdit>(w, "txtPass")->text(), QString());
    QCOMPARE(test::control<QLineEdit>(w, "txtPass1")->text(), QString());
    QVERIFY(!test::control<QLabel>(w, "lblPassNote")->isHidden());
    type(w, "txtDesc", QStringLiteral("Room 7"));
    click(w, "Command2");
    QTRY_VERIFY(!w);
    QCOMPARE(db().scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE contName='Zed'")).toString(), stored);
    QCOMPARE(db().scalar(QStringLiteral("SELECT displayName FROM tblCounter WHERE contName='Zed'")).toString(),
             QStringLiteral("Room 7"));
    QVERIFY(Credentials::checkCounter(db(), QStringLiteral("Zed"), QStringLiteral("op"), QStringLiteral("Pw")));

    // Delete: asked first; a counter that called a token stays.
    const int zed = db().scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Zed'")).toInt();
    db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended) "
                            "VALUES (1, 1, '2020-02-02', '09:00:00', '1', 'K1', ?)"),
             {zed});
    prompt().messages.clear();
    list.addFG();
    QVERIFY(test::touchRow(list.grid(), QStringLiteral("Zed"), 4));
    prompt().answers.enqueue(true);
    click(&list, "Command2");
    QCOMPARE(prompt().messages, QStringList{QStringLiteral("Cannot delete ")});
    QVERIFY(test::touchRow(list.grid(), QStringLiteral("Alpha"), 4));
    prompt().answers.enqueue(true);
    click(&list, "Command2");
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblCounter")).toInt(), 2);
}

void tst_adminwindows::refusedSaveClosesAndRefills()
{
    frmDeptLst depts(m_st->connection, prompt());
    depts.show();
    depts.addRecord();
    QPointer<RecordWindow> w = depts.recordWindow();
    type(w, "txtDept", QStringLiteral("Lab"));
    // The table goes away under the open window, as a restore from an old backup might do.
    db().run(QStringLiteral("DROP TABLE tblDept"));
    const int fills = depts.fillCount();
    click(w, "Command2");
    QCOMPARE(prompt().messages.size(), 1);
    QVERIFY(!prompt().messages.first().isEmpty());
    QTRY_VERIFY(!w);
    QVERIFY(depts.fillCount() > fills);
    QVERIFY(!depts.fillError().isEmpty());
    QCOMPARE(depts.grid()->rows(), 1);
}

void tst_adminwindows::videoList()
{
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip.mp4"));
    QFile(clip).open(QIODevice::WriteOnly);
    frmVideoLst list(m_st->connection, prompt());
    list.show();
    QVERIFY(list.isWindow());
    QCOMPARE(list.windowTitle(), QStringLiteral("Video List"));
    QCOMPARE(list.grid()->textMatrix(0, 2), QStringLiteral("Video Description"));

    click(&list, "Command4");
    QPointer<RecordWindow> w = list.recordWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Select Video"));
    click(w, "Command2");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Please select a video"));
    // Cancelling the chooser keeps the path; a chosen file fills it.
    click(w, "Command1");
    QCOMPARE(test::control<QLineEdit>(w, "txtName")->text(), QString());
    prompt().fileAnswers.enqueue(clip);
    click(w, "Command1");
    QCOMPARE(test::control<QLineEdit>(w, "txtName")->text(), clip);
    test::control<QCheckBox>(w, "chkActive")->setChecked(false);
    test::control<QPlainTextEdit>(w, "txtDesc")->setPlainText(QStringLiteral("Welcome"));
    click(w, "Command2");
    QTRY_VERIFY(!w);
    db().run(QStringLiteral("INSERT INTO tblVideo (vidPath, vidDesc, active) VALUES ('/gone/old.avi', 'Old', '1')"));
    list.addFG();
    QCOMPARE(column(list.grid(), 3), (QStringList{QStringLiteral("No"), QStringLiteral("Yes")}));
    QCOMPARE(list.grid()->textMatrix(1, 2), QStringLiteral("Welcome"));
    // A file that is gone is marked, so the administrator sees why the display skips it.
    QVERIFY(list.grid()->textMatrix(2, 2).startsWith(QStringLiteral("Old")));
    QVERIFY(list.grid()->textMatrix(2, 2).contains(QStringLiteral("/gone/old.avi")));

    // "&Edit" opens the selected entry.
    QVERIFY(test::touchRow(list.grid(), QStringLiteral("1")));
    click(&list, "Command1");
    QCOMPARE(test::control<QLineEdit>(list.recordWindow(), "txtName")->text(), clip);
    QVERIFY(!test::control<QCheckBox>(list.recordWindow(), "chkActive")->isChecked());
    list.recordWindow()->close();

    // "&Delete" asks first, also with nothing selected, and refills at once.
    prompt().messages.clear();
    list.grid()->setRow(0);
    click(&list, "Command2");
    QCOMPARE(prompt().questions, QStringList{QStringLiteral("Do you want to delete the selected")});
    QVERIFY(prompt().messages.isEmpty());
    QVERIFY(test::touchRow(list.grid(), QStringLiteral("1")));
    prompt().answers.enqueue(true);
    click(&list, "Command2");
    QCOMPARE(list.grid()->rows(), 2);
    QVERIFY(list.grid()->textMatrix(1, 2).startsWith(QStringLiteral("Old")));
}

void tst_adminwindows::usersAndCompany()
{
    frmUserLst users(m_st->connection, prompt());
    users.show();
    QCOMPARE(users.windowTitle(), QStringLiteral("User List"));
    auto* names = test::control<QListWidget>(&users, "lstUser");
    QCOMPARE(names->count(), 1);
    // One user: Delete does nothing and says nothing.
    names->setCurrentRow(0);
    click(&users, "Command3");
    QVERIFY(prompt().questions.isEmpty() && prompt().messages.isEmpty());

    type(&users, "Text1", QStringLiteral("admin"));
    click(&users, "Command1");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Existing User, select another Name"));
    type(&users, "Text1", QStringLiteral("nurse"));
    type(&users, "Text2", QStringLiteral("night shift"));
    test::control<QComboBox>(&users, "Combo1")->setCurrentText(QStringLiteral("User"));
    click(&users, "Command1");
    QCOMPARE(names->count(), 2);
    QCOMPARE(names->item(1)->text(), QStringLiteral("NURSE"));
    QCOMPARE(test::control<QLineEdit>(&users, "Text1")->text(), QString());
    QCOMPARE(test::control<QComboBox>(&users, "Combo1")->currentText(), QStringLiteral("User"));
    // The new user logs in at once.
    QVERIFY(Credentials::checkAdmin(db(), QStringLiteral("nurse"), QStringLiteral("night shift")));

    // Nobody clicked yet: nothing happens. Then the clicked one goes, after the question.
    click(&users, "Command3");
    QVERIFY(prompt().questions.isEmpty());
    const QRect first = names->visualItemRect(names->item(0));
    QTest::mouseClick(names->viewport(), Qt::LeftButton, {}, first.center());
    QVERIFY(users.selectedUser() != 0);
    prompt().answers.enqueue(true);
    click(&users, "Command3");
    QCOMPARE(prompt().questions, QStringList{QStringLiteral("Do you want to Remove the Selected User")});
    QCOMPARE(names->count(), 1);
    QCOMPARE(names->item(0)->text(), QStringLiteral("NURSE"));

    // Company details: blank refused; with no row, saving makes it.
    db().run(QStringLiteral("DELETE FROM tblComp"));
    frmCompany company(m_st->connection, prompt());
    company.show();
    QCOMPARE(company.windowTitle(), QStringLiteral("Company Details"));
    click(&company, "Command1");
    QCOMPARE(prompt().messages.last(), QStringLiteral("Company Name should not be blank"));
    QVERIFY(company.isVisible());
    type(&company, "txtName", QStringLiteral("St. Mary's"));
    type(&company, "txtAdd", QStringLiteral("Harbour Rd"));
    click(&company, "Command1");
    QVERIFY(!company.isVisible());
    QCOMPARE(db().scalar(QStringLiteral("SELECT compName FROM tblComp WHERE compAuto=1")).toString(),
             QStringLiteral("St. Mary's"));
}

TALLYVO_TEST_MAIN(tst_adminwindows)
#include "tst_adminwindows.moc"
