// One site worked end to end: a token issued at the ticket window, called by a counter in another
// process, shown and announced on the display the main window started.
#include "GridTouch.h"
#include "ShellStation.h"

#include "core/Database.h"
#include "display/ui/frmDisplay.h"
#include "shell/MDI.h"
#include "widgets/Grid.h"
#include "tokens/ui/frmTicket.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tallyvo;

namespace {

// Touches the ticket window's choice that reads text.
bool touch(frmTicket& w, const QString& text)
{
    return test::touchRow(w.findChild<Grid*>(QStringLiteral("FG")), text);
}

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// tallyvoctl beside this test, as a counter station of its own.
Run ctl(const QStringList& args)
{
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"), args);
    Run r;
    // The event loop turns meanwhile, so the display keeps running while the other station works.
    QDeadlineTimer deadline(60000);
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(20);
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    r.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return r;
}

} // namespace

class tst_endtoend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void issueCallShowAndAnnounce();
};

void tst_endtoend::issueCallShowAndAnnounce()
{
    test::ShellStation st;
    st.settings.store.set(Keys::ThemeTheme, QStringLiteral("Black H"));
    MDI mdi(st.services());
    mdi.load();
    mdi.show();
    mdi.display_Click();
    QPointer<frmDisplay> display = mdi.displayWindow();
    QVERIFY(display);

    // The ticket station.
    QTest::mouseClick(mdi.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    frmTicket* ticket = mdi.ticketWindow();
    QVERIFY(ticket && ticket->isVisible());
    QTemporaryDir pdf;
    ticket->printer().setPdfFolder(pdf.path());
    QVERIFY(touch(*ticket, QStringLiteral("Outpatients")));
    QVERIFY(touch(*ticket, QStringLiteral("Consultation")));
    QCOMPARE(ticket->printer().jobs().size(), 1);
    QCOMPARE(st.temp.db()
                 .scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickNo=1 AND call='0'"))
                 .toInt(),
             1);

    // The counter, in a process of its own.
    const Run next = ctl({QStringLiteral("--db"), st.temp.url().toString(true), QStringLiteral("next"),
                          QStringLiteral("Counter 1")});
    QVERIFY2(next.code == 0, qPrintable(next.err));
    QCOMPARE(next.out, QStringLiteral("A1"));

    // The display shows it on top and the main window's announcer speaks it.
    Grid* fg = display->FG();
    QTRY_COMPARE_WITH_TIMEOUT(display->lastLabel(), QStringLiteral("A1"), 20000);
    QVERIFY(fg->textMatrix(1, 1).startsWith(QStringLiteral("A1")));
    QCOMPARE(display->lastCounter(), QStringLiteral("Room 1"));
    test::RecordingSpeech* speech = st.engines.first();
    QTRY_COMPARE(speech->said, QStringList{QStringLiteral("Tocken number A1 please move to the  ,Room 1")});

    mdi.display_Click();
    QTRY_VERIFY(display.isNull());
    delete ticket;
}

TALLYVO_TEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
