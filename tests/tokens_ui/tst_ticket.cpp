#include "GridTouch.h"
#include "QrDecode.h"
#include "TestSupport.h"
#include "ThermalPrinterFakes.h"

#include "core/Connection.h"
#include "core/Session.h"
#include "widgets/Grid.h"
#include "tokens/EscPos.h"
#include "tokens/ui/TicketPrint.h"
#include "tokens/ui/frmTicket.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QFile>
#include <QLabel>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

using namespace tallyvo;

namespace {

// One station against a fresh database: two departments (one without active services), a
// service with prefix "A" from 100 to 102, and an inactive department and service.
struct Station {
    test::TempDatabase temp;
    test::TempSettings settings;
    Session session;
    test::FakeClock clock{QDate(2026, 3, 14), QTime(9, 30, 0)};
    test::ScriptedPrompt prompt;
    Connection connection{settings.store, session};
    QTemporaryDir pdfDir;
    qint64 outpatients = 0;
    qint64 empty = 0;
    qint64 consult = 0;
    qint64 lab = 0;
    qint64 xray = 0;

    Station()
    {
        connection.setOverride(temp.url());
        Database& db = temp.db();
        db.run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
               {QStringLiteral("St. Mary's Clinic"), QStringLiteral("12 Harbour Road")});
        outpatients = dept(QStringLiteral("Outpatients"), QStringLiteral("1"));
        empty = dept(QStringLiteral("Radiology"), QStringLiteral("1"));
        dept(QStringLiteral("Closed wing"), QStringLiteral("0"));
        consult = service(outpatients, QStringLiteral("Consultation"), QStringLiteral("Ground floor, room 4"),
                          QStringLiteral("100"), QStringLiteral("102"), QStringLiteral("A"), QStringLiteral("1"));
        lab = service(outpatients, QStringLiteral("Blood test"), QStringLiteral("Lab"), QStringLiteral("1"),
                      QStringLiteral("999"), QStringLiteral("B"), QStringLiteral("1"));
        service(outpatients, QStringLiteral("Retired"), QString(), QStringLiteral("1"), QStringLiteral("9"),
                QStringLiteral("R"), QStringLiteral("0"));
        xray = service(empty, QStringLiteral("X-ray"), QString(), QStringLiteral("1"), QStringLiteral("9"),
                QStringLiteral("X"), QStringLiteral("0"));
    }

    qint64 dept(const QString& name, const QString& active)
    {
        return temp.db().insert(
            QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, '', ?) RETURNING deptAuto"),
            {name, active});
    }
    qint64 service(qint64 deptKey, const QString& name, const QString& desc, const QString& start,
                   const QString& end, const QString& prefix, const QString& active)
    {
        return temp.db().insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, "
                                               "startno, endno, abrno) VALUES (?, ?, ?, ?, ?, ?, ?) "
                                               "RETURNING servAuto"),
                                {deptKey, name, desc, active, start, end, prefix});
    }

    std::unique_ptr<frmTicket> open()
    {
        auto w = std::make_unique<frmTicket>(connection, settings.store, session, clock, prompt);
        w->printer().setPdfFolder(pdfDir.path());
        w->printer().setInstalledPrinters({QStringLiteral("Kiosk"), QStringLiteral("Office")},
                                          QStringLiteral("Office"));
        w->resize(700, 700);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            qWarning("window not exposed");
        return w;
    }

    // Tokens stored so far: "label date" in key order.
    QStringList tokens()
    {
        QStringList out;
        QSqlQuery q = temp.db().run(QStringLiteral("SELECT no_abr, tickDate, call FROM tblTicket ORDER BY tickAuto"));
        while (q.next())
            out << q.value(0).toString() + QLatin1Char(' ') + q.value(1).toString();
        return out;
    }
};

Grid* grid(frmTicket& w)
{
    return w.findChild<Grid*>(QStringLiteral("FG"));
}

QStringList choices(frmTicket& w)
{
    QStringList out;
    Grid* fg = grid(w);
    for (int r = 0; r < fg->rows(); ++r)
        out << fg->textMatrix(r, 1);
    return out;
}

// Touches the choice that reads `text`, as a finger would.
bool touch(frmTicket& w, const QString& text)
{
    return test::touchRow(grid(w), text);
}

// The text of a printed job, as pdftotext reads it, one trimmed non-empty line each.
QStringList pdfLines(const QString& file, bool layout = false)
{
    QProcess p;
    QStringList args;
    if (layout)
        args << QStringLiteral("-layout");
    p.start(QStringLiteral("pdftotext"), args << file << QStringLiteral("-"));
    if (!p.waitForFinished(20000))
        return {QStringLiteral("pdftotext did not finish")};
    QStringList out;
    // NFKC turns the "fl" and "fi" ligatures of the printed font back into letters.
    const QString text = QString::fromUtf8(p.readAllStandardOutput()).normalized(QString::NormalizationForm_KC);
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            out << (layout ? line : line.trimmed());
    }
    return out;
}

// TALLYVO_SHOTS=<folder> keeps pictures of the window and the printed tickets for a person to look at.
void keepShot(QWidget& w, const QString& name)
{
    const QString folder = qEnvironmentVariable("TALLYVO_SHOTS");
    if (!folder.isEmpty())
        w.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

void keepFile(const QString& file, const QString& name)
{
    const QString folder = qEnvironmentVariable("TALLYVO_SHOTS");
    if (!folder.isEmpty()) {
        QFile::remove(QDir(folder).filePath(name));
        QFile::copy(file, QDir(folder).filePath(name));
    }
}

// A token's ticket with everything a web station adds to it.
TicketText webTicket()
{
    TicketText t;
    t.company1 = QStringLiteral("St. Mary's Clinic");
    t.company2 = QStringLiteral("12 Harbour Road");
    t.printedAt = QStringLiteral("14/03/2026 09:30");
    t.serviceName = QStringLiteral("Consultation");
    t.label = QStringLiteral("A100");
    t.description = QStringLiteral("Ground floor, room 4");
    t.webKey = QStringLiteral("q7Xh3kPz9LmN2vB8wR4tYc");
    t.estimateMinutes = 12;
    return t;
}

const QString kWebLink = QStringLiteral("https://queue.example.org/t/q7Xh3kPz9LmN2vB8wR4tYc");

// The ticket painted on a roll `printableDots` wide at a thermal printer's 203 dpi, on white.
QImage paintedRoll(const TicketText& ticket, int printableDots)
{
    QImage image(printableDots, 2400, QImage::Format_RGB32);
    const int dotsPerMetre = qRound(203 / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintTicket(painter, ticketLines(ticket));
    return image;
}

} // namespace

class tst_ticket : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void departmentThenServiceIssuesAndReturns();
    void backAndDepartmentWithoutServices();
    void dateBoxIssuesForChosenDayThenReturnsToToday();
    void kioskHidesDateAndAlwaysIssuesToday();
    void copiesAreSeparateJobsOfOneToken();
    void limitPrintsAndStoresNothing();
    void printedTicketReadsInOrder();
    void longCompanyLinesWrapWithinThePaper();
    void nowServingFollowsTodaysLastCall();
    void printerChoiceFallsBackToDefault();
    void ticketThatCannotPrintNamesTheStoredToken();
    void kioskShowsTheNumberWhenItsTicketDoesNotPrint();
    void tokenThatCannotBeStoredIsNotPrinted_data();
    void tokenThatCannotBeStoredIsNotPrinted();
    void withoutConnectionTheStationStaysEmpty();
    void qrCodeOnThePrintedTicketOpensTheTokensPage();
    void qrCodeFitsThePaintedRoll_data();
    void qrCodeFitsThePaintedRoll();
    void thermalTicketCarriesTheCodeOfTheSettings();
};

void tst_ticket::departmentThenServiceIssuesAndReturns()
{
    Station s;
    s.settings.store.set(Keys::PrinterRow, QStringLiteral("700"));
    auto w = s.open();
    Grid* fg = grid(*w);
    QCOMPARE(w->windowTitle(), QStringLiteral("Print Ticket"));
    QCOMPARE(w->stage(), 0);
    QCOMPARE(choices(*w), (QStringList{QStringLiteral("Select Department"), QStringLiteral("Outpatients"),
                                       QStringLiteral("Radiology")}));
    QCOMPARE(fg->rowHeight(0), 800);
    QVERIFY(fg->rowHeight(1) >= 700);
    QVERIFY(!fg->cellPicture(1, 1).isNull()); // the design picture behind every choice
    QCOMPARE(fg->font().family(), QStringLiteral("Arial"));
    QVERIFY(fg->font().bold());
    QCOMPARE(fg->font().pointSizeF(), 14.25);
    keepShot(*w, QStringLiteral("ticket-departments"));

    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QCOMPARE(w->stage(), 1);
    QCOMPARE(choices(*w), (QStringList{QStringLiteral("Select Service"), QStringLiteral("Consultation"),
                                       QStringLiteral("Blood test"), QStringLiteral("<-Back")}));
    QCOMPARE(fg->textMatrix(3, 0), QString()); // "<-Back" holds no key
    QVERIFY(!fg->cellPicture(3, 1).isNull());
    keepShot(*w, QStringLiteral("ticket-services"));

    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens(), QStringList{QStringLiteral("A100 2026-03-14")});
    QCOMPARE(w->printer().jobs().size(), 1);
    QCOMPARE(w->stage(), 0);
    QCOMPARE(fg->textMatrix(0, 1), QStringLiteral("Select Department"));
    QVERIFY(s.prompt.messages.isEmpty());

    // The next visitor gets the next number of that service.
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens().value(1), QStringLiteral("A101 2026-03-14"));
    QSqlQuery q = s.temp.db().run(QStringLiteral("SELECT call, attended, tickTime FROM tblTicket ORDER BY tickAuto"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("0"));
    QCOMPARE(q.value(1).toInt(), 0);
}

void tst_ticket::backAndDepartmentWithoutServices()
{
    Station s;
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Radiology")));
    QCOMPARE(w->stage(), 1);
    QCOMPARE(choices(*w), (QStringList{QStringLiteral("Select Service"), QStringLiteral("<-Back")}));

    // A finger that slides off a choice before lifting takes nothing and leaves nothing lit.
    Grid* fg = grid(*w);
    const QRect back = fg->visualRect(fg->model()->index(0, 1));
    QTest::mousePress(fg->viewport(), Qt::LeftButton, {}, back.center());
    QTest::mouseRelease(fg->viewport(), Qt::LeftButton, {}, QPoint(back.center().x(), fg->viewport()->height() - 2));
    QTRY_COMPARE(fg->row(), 0);
    QCOMPARE(w->stage(), 1);

    // Touching the header does nothing.
    QTest::mouseClick(fg->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(40, 10));
    QCOMPARE(w->stage(), 1);

    QVERIFY(touch(*w, QStringLiteral("<-Back")));
    QCOMPARE(w->stage(), 0);
    QCOMPARE(choices(*w).value(0), QStringLiteral("Select Department"));
    QVERIFY(s.tokens().isEmpty());
    QVERIFY(w->printer().jobs().isEmpty());
}

void tst_ticket::dateBoxIssuesForChosenDayThenReturnsToToday()
{
    Station s;
    auto w = s.open();
    auto* dt = w->findChild<QDateEdit*>(QStringLiteral("DT"));
    QVERIFY(dt->isVisible());
    QCOMPARE(dt->displayFormat(), QStringLiteral("dd-MM-yyyy"));
    QCOMPARE(dt->date(), s.clock.day);
    w->hide();
    w->showAsConfigured();
    QVERIFY(!w->isFullScreen());
    QCOMPARE(w->pos(), QPoint(0, 0));

    // The receptionist books a visitor for tomorrow: up on the day.
    dt->setFocus();
    dt->setSelectedSection(QDateTimeEdit::DaySection);
    QTest::keyClick(dt, Qt::Key_Up);
    QCOMPARE(dt->date(), QDate(2026, 3, 15));
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(dt->date(), s.clock.day);

    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    // Tomorrow's booking does not move today's numbering.
    QCOMPARE(s.tokens(), (QStringList{QStringLiteral("A100 2026-03-15"), QStringLiteral("A100 2026-03-14")}));

    // Left open overnight, the station issues for the new day without anyone touching the date.
    s.clock.day = QDate(2026, 3, 16);
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens().value(2), QStringLiteral("A100 2026-03-16"));
    QCOMPARE(dt->date(), QDate(2026, 3, 16));
}

void tst_ticket::kioskHidesDateAndAlwaysIssuesToday()
{
    Station s;
    s.settings.store.set(Keys::TicketScreen, QStringLiteral("Full Screen"));
    auto w = s.open();
    QVERIFY(w->isKiosk());
    w->resize(1200, 800);
    QTest::qWait(20);
    auto* dt = w->findChild<QDateEdit*>(QStringLiteral("DT"));
    QVERIFY(!dt->isVisible());
    QVERIFY(!w->findChild<QLabel*>(QStringLiteral("lblDate"))->isVisible());
    QVERIFY(w->findChild<QPushButton*>(QStringLiteral("cmdExit"))->isVisible());
    Grid* fg = grid(*w);
    QVERIFY(qAbs(fg->geometry().center().x() - w->width() / 2) <= 2);
    keepShot(*w, QStringLiteral("ticket-kiosk"));
    auto* close = w->findChild<QLabel*>(QStringLiteral("lblClose"));
    QCOMPARE(close->geometry().right(), w->width() - 1);
    QCOMPARE(close->y(), 0);

    // A stale date in the hidden box is never used.
    dt->setDate(QDate(2026, 3, 1));
    s.clock.day = QDate(2026, 3, 20);
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Blood test")));
    QCOMPARE(s.tokens(), QStringList{QStringLiteral("B1 2026-03-20")});

    w->hide();
    w->showAsConfigured();
    QVERIFY(w->isFullScreen());

    // The corner label closes the station.
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!w->isVisible());
}

void tst_ticket::copiesAreSeparateJobsOfOneToken()
{
    Station s;
    s.session.ticketCopies = 2;
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens(), QStringList{QStringLiteral("A100 2026-03-14")});
    const auto& jobs = w->printer().jobs();
    QCOMPARE(jobs.size(), 2);
    QVERIFY(jobs[0].file != jobs[1].file);
    for (const auto& job : jobs)
        QVERIFY2(pdfLines(job.file).contains(QStringLiteral("A100")), qPrintable(job.file));
}

void tst_ticket::limitPrintsAndStoresNothing()
{
    Station s;
    for (int n = 100; n <= 102; ++n)
        s.temp.db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                       "attended) VALUES (?, ?, '2026-03-14', '08:00:00', '0', ?, 0)"),
                        {s.consult, n, QStringLiteral("A%1").arg(n)});
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.prompt.messages, QStringList{QStringLiteral("Limit")});
    QCOMPARE(s.tokens().size(), 3);
    QVERIFY(w->printer().jobs().isEmpty());
    QCOMPARE(w->stage(), 0);
    QCOMPARE(choices(*w).value(0), QStringLiteral("Select Department"));
}

void tst_ticket::printedTicketReadsInOrder()
{
    Station s;
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(w->printer().jobs().size(), 1);
    const QString file = w->printer().jobs().first().file;
    const QStringList lines = pdfLines(file);
    keepFile(file, QStringLiteral("ticket.pdf"));
    const QString printedAt = QLocale::system().toString(QDateTime(s.clock.day, s.clock.time), QLocale::ShortFormat);
    // Nothing called today: the line ends after the colon.
    QCOMPARE(lines, (QStringList{QStringLiteral("St. Mary's Clinic"), QStringLiteral("12 Harbour Road"), printedAt,
                                 QStringLiteral("Consultation"), QStringLiteral("A100"),
                                 QStringLiteral("Now Serving :"), QStringLiteral("Ground floor, room 4"),
                                 QStringLiteral("Thank you for waiting")}));

    // Layout: the company name starts left of its address (column 3 against 10), and the token
    // is printed far larger than the lines around it.
    const QStringList layout = pdfLines(file, true);
    auto indent = [](const QString& line) { return line.size() - line.trimmed().size(); };
    QVERIFY2(indent(layout.value(0)) < indent(layout.value(1)), qPrintable(layout.join(QLatin1Char('\n'))));
    QProcess bbox;
    bbox.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), file, QStringLiteral("-")});
    QVERIFY(bbox.waitForFinished(20000));
    const QString html = QString::fromUtf8(bbox.readAllStandardOutput());
    auto wordHeight = [&html](const QString& word) {
        const QRegularExpression re(QStringLiteral("yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">%1<")
                                        .arg(QRegularExpression::escape(word)));
        const QRegularExpressionMatch m = re.match(html);
        return m.hasMatch() ? m.captured(2).toDouble() - m.captured(1).toDouble() : -1.0;
    };
    const double label = wordHeight(QStringLiteral("A100"));
    const double thanks = wordHeight(QStringLiteral("Thank"));
    QVERIFY2(thanks > 0 && label > 3.5 * thanks, qPrintable(html));

    // New company details reach the open station at its next ticket.
    s.temp.db().run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
                    {QStringLiteral("Harbour Health"), QStringLiteral("1 Quay St")});
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(w->printer().jobs().size(), 2);
    QCOMPARE(pdfLines(w->printer().jobs().last().file).mid(0, 2),
             (QStringList{QStringLiteral("Harbour Health"), QStringLiteral("1 Quay St")}));
}

void tst_ticket::longCompanyLinesWrapWithinThePaper()
{
    Station s;
    const QString name = QStringLiteral("St. Mary's Community Health Clinic and Diagnostic Centre");
    const QString word = QStringLiteral("Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch");
    s.temp.db().run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
                    {name, QStringLiteral("22 Mill Lane\nRiverside RV1 2AB, Northern Harbour District ") + word});
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(w->printer().jobs().size(), 1);
    const QString file = w->printer().jobs().first().file;
    keepFile(file, QStringLiteral("ticket-long-company.pdf"));

    // Every word lies inside the printable width of the 80 mm roll (4 mm margins each side), and
    // on a page.
    QProcess bbox;
    bbox.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), file, QStringLiteral("-")});
    QVERIFY(bbox.waitForFinished(20000));
    const QString html = QString::fromUtf8(bbox.readAllStandardOutput());
    const QRegularExpressionMatch page =
        QRegularExpression(QStringLiteral("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\"")).match(html);
    QVERIFY2(page.hasMatch(), qPrintable(html));
    const double margin = 4 / 25.4 * 72;
    const double right = page.captured(1).toDouble() - margin;
    const double bottom = page.captured(2).toDouble();
    const QRegularExpression wordBox(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\""));
    int words = 0;
    for (const QRegularExpressionMatch& m : wordBox.globalMatch(html)) {
        ++words;
        QVERIFY2(m.captured(1).toDouble() >= margin - 0.5 && m.captured(2).toDouble() <= right + 0.5
                     && m.captured(3).toDouble() <= bottom,
                 qPrintable(html));
    }
    QVERIFY(words > 20);

    // Nothing lost: the line break of the address starts a line of its own, the long lines go on
    // below, and the word too long for any line is cut into pieces that read back whole.
    const QStringList lines = pdfLines(file);
    const qsizetype printedAt = lines.indexOf(
        QLocale::system().toString(QDateTime(s.clock.day, s.clock.time), QLocale::ShortFormat));
    QVERIFY2(printedAt > 4, qPrintable(lines.join(QLatin1Char('\n'))));
    const QStringList company = lines.mid(0, printedAt);
    QVERIFY2(company.contains(QStringLiteral("22 Mill Lane")), qPrintable(company.join(QLatin1Char('\n'))));
    QVERIFY(!company.contains(word));
    auto squeezed = [](QString text) { return text.remove(QLatin1Char(' ')); };
    QCOMPARE(squeezed(company.join(QString())),
             squeezed(name + QStringLiteral("22 Mill LaneRiverside RV1 2AB, Northern Harbour District") + word));
    QCOMPARE(lines.mid(printedAt + 1, 2), (QStringList{QStringLiteral("Consultation"), QStringLiteral("A100")}));
    // The longer ticket still ends with its last line, on paper.
    QCOMPARE(lines.last(), QStringLiteral("Thank you for waiting"));
    QVERIFY2(html.contains(QLatin1String(">waiting<")), qPrintable(html));
}

void tst_ticket::nowServingFollowsTodaysLastCall()
{
    Station s;
    Database& db = s.temp.db();
    auto add = [&db](qint64 service, int no, const QString& label, const QString& date, const QString& call) {
        db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended) "
                              "VALUES (?, ?, ?, '08:00:00', ?, ?, 0)"),
               {service, no, date, call, label});
    };
    add(s.lab, 7, QStringLiteral("B7"), QStringLiteral("2026-03-13"), QStringLiteral("1")); // yesterday
    add(s.lab, 1, QStringLiteral("B1"), QStringLiteral("2026-03-14"), QStringLiteral("1"));
    add(s.lab, 2, QStringLiteral("B2"), QStringLiteral("2026-03-14"), QStringLiteral("1"));
    add(s.lab, 3, QStringLiteral("B3"), QStringLiteral("2026-03-14"), QStringLiteral("0"));
    add(s.consult, 100, QStringLiteral("A100"), QStringLiteral("2026-03-14"), QStringLiteral("1"));
    // B1 recalled after B2: the ticket still names the highest key among the called ones.
    db.run(QStringLiteral("UPDATE tblTicket SET attTime='09:00:00' WHERE no_abr='B1'"));
    auto w = s.open();
    QCOMPARE(w->getNowServing(int(s.lab)), QStringLiteral("B2"));
    QCOMPARE(w->getNowServing(int(s.xray)), QString());

    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Blood test")));
    QVERIFY(pdfLines(w->printer().jobs().value(0).file).contains(QStringLiteral("Now Serving : B2")));
}

void tst_ticket::printerChoiceFallsBackToDefault()
{
    const QStringList installed{QStringLiteral("Kiosk"), QStringLiteral("Office")};
    QCOMPARE(TicketPrint::choosePrinter(QStringLiteral("Kiosk"), installed, QStringLiteral("Office")),
             QStringLiteral("Kiosk"));
    QCOMPARE(TicketPrint::choosePrinter(QStringLiteral("kiosk"), installed, QStringLiteral("Office")),
             QStringLiteral("Office"));
    QCOMPARE(TicketPrint::choosePrinter(QString(), installed, QStringLiteral("Office")), QStringLiteral("Office"));
    QCOMPARE(TicketPrint::choosePrinter(QStringLiteral("Kiosk"), {}, QString()), QString());

    // Through the station: a name that matches nothing prints on the default printer.
    Station s;
    s.settings.store.set(Keys::PrinterName, QStringLiteral("Front desk"));
    auto w = s.open();
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    s.settings.store.set(Keys::PrinterName, QStringLiteral("Kiosk"));
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    const auto& jobs = w->printer().jobs();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs[0].printer, QStringLiteral("Office"));
    QCOMPARE(jobs[1].printer, QStringLiteral("Kiosk"));
    QVERIFY(s.prompt.messages.isEmpty());
}

void tst_ticket::ticketThatCannotPrintNamesTheStoredToken()
{
    Station s;
    s.session.ticketCopies = 2;
    auto w = s.open();

    // No printer on this machine at all.
    w->printer().setPdfFolder(QString());
    w->printer().setInstalledPrinters({}, QString());
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens(), QStringList{QStringLiteral("A100 2026-03-14")});
    QCOMPARE(s.prompt.messages.size(), 1);
    QVERIFY2(s.prompt.messages[0].contains(QStringLiteral("A100")), qPrintable(s.prompt.messages[0]));
    QCOMPARE(w->stage(), 0);

    // The printer refuses the job (here: a folder that does not exist).
    w->printer().setPdfFolder(s.pdfDir.filePath(QStringLiteral("missing/folder")));
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.tokens().value(1), QStringLiteral("A101 2026-03-14"));
    QCOMPARE(s.prompt.messages.size(), 2);
    QVERIFY2(s.prompt.messages[1].contains(QStringLiteral("A101")), qPrintable(s.prompt.messages[1]));
    QVERIFY(w->printer().jobs().isEmpty());

    // A thermal printer that is switched off: a normal station keeps its message box.
    QString closedPort;
    {
        test::FakeNetworkPrinter gone;
        closedPort = gone.name();
    }
    s.settings.store.set(Keys::PrinterName, closedPort);
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(s.prompt.messages.size(), 3);
    QVERIFY2(s.prompt.messages[2].contains(QStringLiteral("A102")) && s.prompt.messages[2].contains(closedPort),
             qPrintable(s.prompt.messages[2]));
    QVERIFY(!test::control<QFrame>(w.get(), "fraNumber")->isVisible());
}

void tst_ticket::kioskShowsTheNumberWhenItsTicketDoesNotPrint()
{
    Station s;
    s.settings.store.set(Keys::TicketScreen, QStringLiteral("Full Screen"));
    s.session.ticketCopies = 2;
    test::SilentListener silent;
    s.settings.store.set(Keys::PrinterName, QStringLiteral("escpos://127.0.0.1:%1").arg(silent.port));
    auto w = s.open();
    w->resize(1024, 768);
    w->printer().setEscPosTimeout(1000);
    auto* frame = test::control<QFrame>(w.get(), "fraNumber");
    QVERIFY(!frame->isVisible());
    QCOMPARE(w->printerNotice(), QString());

    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QElapsedTimer took;
    took.start();
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    // The second copy does not wait for the printer that has just failed to answer.
    QVERIFY2(took.elapsed() < 1900, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(s.tokens(), QStringList{QStringLiteral("A100 2026-03-14")});
    QVERIFY(s.prompt.messages.isEmpty()); // nothing modal in the visitor's way
    QVERIFY(frame->isVisible());
    QCOMPARE(test::control<QLabel>(w.get(), "lblYourNumber")->text(), QStringLiteral("Your number"));
    QCOMPARE(test::control<QLabel>(w.get(), "lblNumber")->text(), QStringLiteral("A100"));
    QVERIFY(frame->geometry().intersects(grid(*w)->geometry()));
    QVERIFY2(w->printerNotice().contains(QStringLiteral("did not answer")), qPrintable(w->printerNotice()));
    QCOMPARE(w->stage(), 0);
    keepShot(*w, QStringLiteral("ticket-kiosk-not-printed"));

    // The visitor touches the number away; the next one still sees it for its few seconds.
    QTest::mouseClick(frame, Qt::LeftButton);
    QVERIFY(!frame->isVisible());
    w->setNumberShownFor(300);
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QVERIFY(frame->isVisible());
    QTRY_VERIFY(!frame->isVisible());
    QVERIFY(!w->printerNotice().isEmpty()); // the staff's notice stays

    // The printer is back: the notice goes, and the ticket carries the painted ticket's lines.
    test::FakeNetworkPrinter printer;
    s.settings.store.set(Keys::PrinterName, printer.name());
    QVERIFY(touch(*w, QStringLiteral("Outpatients")));
    QVERIFY(touch(*w, QStringLiteral("Consultation")));
    QCOMPARE(w->printerNotice(), QString());
    QVERIFY(!frame->isVisible());
    QVERIFY(s.prompt.messages.isEmpty());
    QTRY_COMPARE(printer.received.size(), 2);
    const QString printedAt = ticketTime(s.clock.day, s.clock.time);
    for (const QByteArray& job : printer.received) {
        const QVector<test::Printed> p = test::readEscPos(job);
        QCOMPARE(p.size(), 1);
        QCOMPARE(p[0].texts(),
                 (QStringList{QStringLiteral("St. Mary's Clinic"), QStringLiteral("12 Harbour Road"), printedAt,
                              QStringLiteral("Consultation"), QStringLiteral("A102"), QStringLiteral("Now Serving :"),
                              QStringLiteral("Ground floor, room 4"), QStringLiteral("Thank you for waiting")}));
        QVERIFY(p[0].partialCut);
    }
    QCOMPARE(w->printer().jobs().size(), 2);
    QCOMPARE(w->printer().jobs().first().printer, printer.name());
}

void tst_ticket::tokenThatCannotBeStoredIsNotPrinted_data()
{
    QTest::addColumn<int>("how"); // -1: the table taken away, else a test::Refusal
    QTest::newRow("table gone") << -1;
    QTest::newRow("disk full") << int(test::Refusal::DiskFull);
    QTest::newRow("commit refused") << int(test::Refusal::CommitRefused);
}

void tst_ticket::tokenThatCannotBeStoredIsNotPrinted()
{
    QFETCH(int, how);
    Station s;
    auto w = s.open();
    if (how < 0) {
        // Another station's administrator takes the ticket table away under us.
        s.temp.db().run(QStringLiteral("ALTER TABLE tblTicket RENAME TO tblTicketGone"));
    } else if (!test::refuseWrites(*s.connection.db(), test::Refusal(how), QStringLiteral("tblTicket"))) {
        QSKIP("this engine cannot refuse writes that way");
    }
    // Visitors take tickets until the database refuses one: each stored token printed once, the
    // refused one not at all.
    for (int i = 0; i < 300 && s.prompt.messages.isEmpty(); ++i) {
        QVERIFY(touch(*w, QStringLiteral("Outpatients")));
        QVERIFY(touch(*w, QStringLiteral("Blood test")));
    }
    QCOMPARE(s.prompt.messages.size(), 1);
    QVERIFY(!s.prompt.messages[0].isEmpty());
    if (how >= 0)
        QCOMPARE(w->printer().jobs().size(), s.tokens().size());
    else
        QVERIFY(w->printer().jobs().isEmpty());
    QCOMPARE(w->stage(), 0);
}

void tst_ticket::withoutConnectionTheStationStaysEmpty()
{
    test::TempSettings settings;
    Session session;
    test::FakeClock clock;
    test::ScriptedPrompt prompt;
    Connection connection(settings.store, session);
    connection.setOverride(DbUrl::sqlite(QStringLiteral("/proc/no/such/folder/station.sqlite")));
    QStringList failures;
    connection.setFailureHandler([&failures](const QString& why) { failures << why; });

    frmTicket w(connection, settings.store, session, clock, prompt);
    w.show();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(choices(w), QStringList{QStringLiteral("Select Department")});
    // The connection window has said what is wrong; the station does not repeat it.
    QVERIFY(prompt.messages.isEmpty());
}

void tst_ticket::qrCodeOnThePrintedTicketOpensTheTokensPage()
{
    test::TempSettings settings;
    // As a settings file edited by hand may hold it: the slash does not double.
    settings.store.set(Keys::WebAddress, QStringLiteral("https://queue.example.org/"));
    TicketPrint print(settings.store);
    QTemporaryDir dir;
    print.setPdfFolder(dir.path());
    print.setInstalledPrinters({QStringLiteral("Office")}, QStringLiteral("Office"));
    QString why;
    QVERIFY2(print.print(webTicket(), &why), qPrintable(why));
    const QString file = print.jobs().first().file;
    keepFile(file, QStringLiteral("ticket-qr.pdf"));

    // The whole ticket on one page, the wait on its own line under the token.
    const QStringList lines = pdfLines(file);
    QCOMPARE(lines.mid(lines.indexOf(QStringLiteral("A100"))),
             (QStringList{QStringLiteral("A100"), QStringLiteral("About 12 min"), QStringLiteral("Now Serving :"),
                          QStringLiteral("Ground floor, room 4"), QStringLiteral("Thank you for waiting")}));
    QProcess bbox;
    bbox.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), file, QStringLiteral("-")});
    QVERIFY(bbox.waitForFinished(20000));
    const QString html = QString::fromUtf8(bbox.readAllStandardOutput());
    QCOMPARE(html.count(QLatin1String("<page ")), 1);
    auto box = [&html](const QString& word) {
        const QRegularExpression re(QStringLiteral("yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">%1<")
                                        .arg(QRegularExpression::escape(word)));
        const QRegularExpressionMatch m = re.match(html);
        return std::pair{m.captured(1).toDouble(), m.captured(2).toDouble()};
    };
    // Between the token and the wait lies the code: some 28 mm of it.
    const double gapMm = (box(QStringLiteral("About")).first - box(QStringLiteral("A100")).second) * 25.4 / 72;
    QVERIFY2(gapMm > 24 && gapMm < 40, qPrintable(QString::number(gapMm)));

    // What a phone reads from the paper.
    QProcess render;
    render.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("200"), QStringLiteral("-png"),
                                              QStringLiteral("-singlefile"), file, dir.filePath(QStringLiteral("page"))});
    QVERIFY(render.waitForFinished(30000));
    const QString png = dir.filePath(QStringLiteral("page.png"));
    QVERIFY2(QFile::exists(png), render.readAllStandardError().constData());
    keepFile(png, QStringLiteral("ticket-qr.png"));
    QCOMPARE(test::decodeQr(png), kWebLink);

    // Without the address the job is the ticket as always: no code, no wait, the short page.
    settings.store.set(Keys::WebAddress, QString());
    QVERIFY2(print.print(webTicket(), &why), qPrintable(why));
    const QString plain = print.jobs().last().file;
    QVERIFY(!pdfLines(plain).contains(QStringLiteral("About 12 min")));
    QProcess plainBox;
    plainBox.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), plain, QStringLiteral("-")});
    QVERIFY(plainBox.waitForFinished(20000));
    const QRegularExpressionMatch page = QRegularExpression(QStringLiteral("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\""))
                                             .match(QString::fromUtf8(plainBox.readAllStandardOutput()));
    QVERIFY(page.hasMatch());
    QCOMPARE(qRound(page.captured(2).toDouble() * 25.4 / 72), 100);
}

void tst_ticket::qrCodeFitsThePaintedRoll_data()
{
    QTest::addColumn<int>("dots");
    QTest::newRow("80 mm roll") << 576;
    QTest::newRow("58 mm roll") << 384;
}

void tst_ticket::qrCodeFitsThePaintedRoll()
{
    QFETCH(int, dots);
    TicketText ticket = webTicket();
    ticket.webAddress = QStringLiteral("https://queue.example.org");
    const QImage withCode = paintedRoll(ticket, dots);
    QCOMPARE(test::decodeQr(withCode), kWebLink);
    // Crisp: the code alone paints nothing but black and white, the quiet zone all round.
    QImage code(dots, dots, QImage::Format_RGB32);
    code.setDotsPerMeterX(withCode.dotsPerMeterX());
    code.setDotsPerMeterY(withCode.dotsPerMeterY());
    code.fill(Qt::gray);
    {
        QPainter painter(&code);
        paintTicket(painter, {TicketLine{10, true, 1, {}, kWebLink}});
    }
    QRect painted;
    for (int y = 0; y < code.height(); ++y) {
        for (int x = 0; x < code.width(); ++x) {
            const int g = qGray(code.pixel(x, y));
            if (g == qGray(QColor(Qt::gray).rgb()))
                continue;
            QVERIFY2(g == 0 || g == 255, qPrintable(QStringLiteral("grey at %1,%2").arg(x).arg(y)));
            painted |= QRect(x, y, 1, 1);
        }
    }
    // Square, centred, about 28 mm: some 220 dots at 203 dpi.
    QCOMPARE(painted.width(), painted.height());
    QVERIFY(qAbs(painted.left() - (dots - painted.right() - 1)) <= 1);
    QVERIFY2(painted.width() > 180 && painted.width() <= 230, qPrintable(QString::number(painted.width())));
    QCOMPARE(test::decodeQr(code), kWebLink);

    // With no web address, paint for paint the ticket as always, whatever the token carries.
    TicketText plain = webTicket();
    plain.webKey.clear();
    plain.estimateMinutes.reset();
    ticket.webAddress.clear();
    QCOMPARE(paintedRoll(ticket, dots), paintedRoll(plain, dots));
}

void tst_ticket::thermalTicketCarriesTheCodeOfTheSettings()
{
    test::TempSettings settings;
    test::FakeNetworkPrinter printer;
    settings.store.set(Keys::PrinterName, printer.name());
    settings.store.set(Keys::PrinterWidth, QStringLiteral("58"));
    settings.store.set(Keys::WebAddress, QStringLiteral("https://queue.example.org"));
    TicketPrint print(settings.store);
    QString why;
    QVERIFY2(print.print(webTicket(), &why), qPrintable(why));
    QTRY_COMPARE(printer.received.size(), 1);
    const test::Printed p = test::readEscPos(printer.received.first()).value(0);
    QCOMPARE(p.unknown, QString());
    QVERIFY(p.texts().contains(QStringLiteral("About 12 min")));
    const QImage code = p.imageAfter(QStringLiteral("A100"));
    QVERIFY(!code.isNull());
    QVERIFY(code.width() <= EscPos::dotsFor(EscPos::kPaper58));
    QDir shots(qEnvironmentVariable("TALLYVO_SHOTS"));
    if (!qEnvironmentVariableIsEmpty("TALLYVO_SHOTS"))
        code.save(shots.filePath(QStringLiteral("ticket-qr-escpos.png")));
    QCOMPARE(test::decodeQr(code), kWebLink);

    // The address emptied in the settings: the bytes of the ticket as always.
    settings.store.set(Keys::WebAddress, QString());
    QVERIFY2(print.print(webTicket(), &why), qPrintable(why));
    QTRY_COMPARE(printer.received.size(), 2);
    TicketText plain = webTicket();
    plain.webKey.clear();
    plain.estimateMinutes.reset();
    QCOMPARE(printer.received.last(), EscPos::ticket(ticketLines(plain), EscPos::kPaper58));
}

TALLYVO_TEST_MAIN(tst_ticket)

#include "tst_ticket.moc"
