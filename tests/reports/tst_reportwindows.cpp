#include "ReportSite.h"
#include "TestSupport.h"

#include "core/Connection.h"
#include "core/Session.h"
#include "reports/Report.h"
#include "reports/ui/FigureWindow.h"
#include "reports/ui/GridExport.h"
#include "reports/ui/LiveBoardWindow.h"
#include "reports/ui/ReportWindow.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"

#include <QDir>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QValueAxis>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

using namespace tallyvo;

namespace {

struct Station {
    test::ReportSite site;
    test::TempSettings settings;
    Session session;
    test::FakeClock clock{QDate(2026, 3, 14), QTime(13, 0, 0)};
    test::ScriptedPrompt prompt;
    Connection connection{settings.store, session};

    Station() { connection.setOverride(site.temp.url()); }

    std::unique_ptr<ReportWindow> open(ReportKind kind)
    {
        switch (kind) {
        case ReportKind::Department:
            return std::make_unique<frmReport>(connection, session, clock, prompt);
        case ReportKind::Service:
            return std::make_unique<frmRptServ>(connection, session, clock, prompt);
        case ReportKind::Counter:
            return std::make_unique<frmRptCounter>(connection, session, clock, prompt);
        case ReportKind::Pending:
            return std::make_unique<frmPending>(connection, session, clock, prompt);
        }
        return nullptr;
    }
};

QStringList gridTokens(Grid* fg)
{
    QStringList list;
    for (int r = 1; r < fg->rows(); ++r)
        list << fg->textMatrix(r, 4);
    list.sort();
    return list;
}

QString averageOf(QWidget* w)
{
    return test::control<QLabel>(w, "lblAvg")->text();
}

void choose(QWidget* w, const QString& name)
{
    auto* list = test::control<QComboBox>(w, "cmbDept");
    list->setCurrentIndex(list->findText(name));
    emit list->activated(list->currentIndex());
}

} // namespace

class tst_reportwindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowsOpenAsTheirKind_data();
    void windowsOpenAsTheirKind();
    void everyChoiceRefills();
    void typingRefillsOncePaused();
    void averageLineEmptiedWithoutRows();
    void refusedQueryLeavesHeaderAndSaysWhy();
    void activationMakesCurrentReportWindow();
    void resizeFollowsTheWindow();
    void manyRowsStayTheReportsRows_data();
    void manyRowsStayTheReportsRows();
    void commandLineAgreesWithWindow_data();
    void commandLineAgreesWithWindow();
    void commandLineRefusesBadDates();
    void commandLineWritesTheWorkbook();
    void figureChartShowsTheGridsNumbers_data();
    void figureChartShowsTheGridsNumbers();
    void figureWorkbookHasGridAndChart();
    void figureFilter_data();
    void figureFilter();
    void liveBoardShowsTheQueueAndFollowsChanges();
};

void tst_reportwindows::windowsOpenAsTheirKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("opened");
    QTest::newRow("department") << int(ReportKind::Department) << "Report-Department Based" << "Select Department"
                                << "All|Outpatients|Radiology|St. Mary's Lab" << "";
    QTest::newRow("service") << int(ReportKind::Service) << "Report Service Based" << "Select Service"
                             << "All|Blood test|Consultation|X-ray" << "";
    QTest::newRow("counter") << int(ReportKind::Counter) << "Report-Counter Based" << "Select Counter"
                             << "All|Counter 1|Counter 2" << "";
    // The pending report opens filled with today's waiting tokens.
    QTest::newRow("pending") << int(ReportKind::Pending) << "Pending Reports" << "Select Service"
                             << "All|Blood test|Consultation|X-ray" << "A3";
}

void tst_reportwindows::windowsOpenAsTheirKind()
{
    QFETCH(int, kind);
    QFETCH(QString, caption);
    QFETCH(QString, label);
    QFETCH(QString, names);
    QFETCH(QString, opened);
    Station s;
    auto w = s.open(ReportKind(kind));
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(test::control<QLabel>(w.get(), "lblDept")->text(), label);
    auto* list = test::control<QComboBox>(w.get(), "cmbDept");
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    QCOMPARE(items.join(QLatin1Char('|')), names);
    QCOMPARE(test::control<QDateEdit>(w.get(), "dtFrom")->date(), QDate(2026, 3, 14));
    QCOMPARE(test::control<QDateEdit>(w.get(), "DTto")->displayFormat(), QStringLiteral("dd-MM-yyyy"));
    QVERIFY(!test::control<QCheckBox>(w.get(), "chkAll")->isChecked());

    Grid* fg = w->grid();
    QCOMPARE(fg->cols(), 11);
    const char* headers[] = {"", "SN", "Dept.", "Service", "Token", "Date", "Counter", "From", "To", "Duration", ""};
    const int widths[] = {1, 1200, 1900, 1900, 1200, 1200, 1900, 1200, 1200, 1200, 5000};
    for (int c = 0; c < 11; ++c) {
        QCOMPARE(fg->textMatrix(0, c), QLatin1String(headers[c]));
        QCOMPARE(fg->colWidth(c), widths[c]);
    }
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), opened);
    QCOMPARE(averageOf(w.get()), opened.isEmpty() ? QString() : QStringLiteral("Average Time : 0"));
}

void tst_reportwindows::everyChoiceRefills()
{
    Station s;
    auto w = s.open(ReportKind::Department);
    Grid* fg = w->grid();
    QCOMPARE(fg->rows(), 1);

    choose(w.get(), QStringLiteral("All"));
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("A1 A2 B1 B2 B3"));
    QCOMPARE(averageOf(w.get()), QStringLiteral("Average Time : 4.4"));
    // Row numbers run from 1 and the key sits in the hidden column.
    QCOMPARE(fg->textMatrix(1, 1), QStringLiteral("1"));
    QCOMPARE(fg->textMatrix(5, 1), QStringLiteral("5"));
    QVERIFY(!fg->textMatrix(1, 0).isEmpty());

    QTest::mouseClick(test::control<QCheckBox>(w.get(), "chkAll"), Qt::LeftButton);
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("A1 A2 A3 B1 B2 B3"));
    QCOMPARE(averageOf(w.get()), QString());
    QTest::mouseClick(test::control<QCheckBox>(w.get(), "chkAll"), Qt::LeftButton);

    test::control<QDateEdit>(w.get(), "dtFrom")->setDate(QDate(2026, 3, 13));
    QTRY_COMPARE(fg->rows(), 7); // A4 of yesterday too

    // Typing a name that does not exist lists nothing.
    QLineEdit* typed = test::control<QComboBox>(w.get(), "cmbDept")->lineEdit();
    typed->selectAll();
    QTest::keyClicks(typed, QStringLiteral("Outpatients"));
    QTRY_COMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("A1 A2 A4"));
    QTest::keyClicks(typed, QStringLiteral("X"));
    QTRY_COMPARE(fg->rows(), 1);

    // "Show" reads the database again: another station's token appears.
    typed->clear();
    QTest::keyClicks(typed, QStringLiteral("Radiology"));
    QTRY_VERIFY(!w->refillPending());
    s.site.ticket(s.site.xray, 4, QStringLiteral("X"), QStringLiteral("2026-03-14"), 0, QStringLiteral("13:00:00"),
                  QStringLiteral("13:04:00"));
    QCOMPARE(fg->rows(), 1);
    QTest::mouseClick(test::control<QPushButton>(w.get(), "Command2"), Qt::LeftButton);
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("X4"));
    QCOMPARE(fg->textMatrix(1, 9), QStringLiteral("4"));
    QVERIFY(s.prompt.messages.isEmpty());
}

void tst_reportwindows::typingRefillsOncePaused()
{
    Station s;
    auto w = s.open(ReportKind::Department);
    w->show();
    Grid* fg = w->grid();
    QLineEdit* typed = test::control<QComboBox>(w.get(), "cmbDept")->lineEdit();
    auto* from = test::control<QDateEdit>(w.get(), "dtFrom");

    // A burst of typing fills once, when it pauses.
    int fills = w->fillCount();
    QTest::keyClicks(typed, QStringLiteral("Outpatients"));
    QCOMPARE(w->fillCount(), fills);
    QVERIFY(w->refillPending());
    QTRY_VERIFY(!w->refillPending());
    QCOMPARE(w->fillCount(), fills + 1);
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("A1 A2"));
    QTest::qWait(600);
    QCOMPARE(w->fillCount(), fills + 1);

    // Stepping a date with the keyboard: the same.
    from->setFocus(); // the filter losing the focus reports its text as a choice: filled at once
    from->setCurrentSection(QDateTimeEdit::DaySection);
    fills = w->fillCount();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(from, Qt::Key_Down);
    QCOMPARE(from->date(), QDate(2026, 3, 11));
    QCOMPARE(w->fillCount(), fills);
    QTRY_VERIFY(!w->refillPending());
    QCOMPARE(w->fillCount(), fills + 1);
    // Four days are read in the background; the rows come while the window goes on.
    QTRY_VERIFY(!w->filling());
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), QStringLiteral("A1 A2 A4"));

    // A choice from the list fills at once, and a pending fill is not run again after it.
    typed->selectAll();
    QTest::keyClicks(typed, QStringLiteral("Rad"));
    fills = w->fillCount();
    choose(w.get(), QStringLiteral("All"));
    QCOMPARE(w->fillCount(), fills + 1);
    QVERIFY(!w->refillPending());

    // A refusal is told once for a burst and for the fills after it; "Show" tells it again.
    s.site.temp.db().run(QStringLiteral("DROP TABLE tblDept"));
    QTest::keyClicks(typed, QStringLiteral("X"));
    QTRY_COMPARE(s.prompt.messages.size(), 1);
    QTest::keyClicks(typed, QStringLiteral("Y"));
    QTRY_VERIFY(!w->refillPending());
    QCOMPARE(fg->rows(), 1);
    QCOMPARE(s.prompt.messages.size(), 1);
    QTest::mouseClick(test::control<QPushButton>(w.get(), "Command2"), Qt::LeftButton);
    QCOMPARE(s.prompt.messages.size(), 2);
}

void tst_reportwindows::averageLineEmptiedWithoutRows()
{
    Station s;
    auto w = s.open(ReportKind::Service);
    choose(w.get(), QStringLiteral("Consultation"));
    QCOMPARE(averageOf(w.get()), QStringLiteral("Average Time : 6"));
    choose(w.get(), QStringLiteral("X-ray")); // nothing today
    QCOMPARE(w->grid()->rows(), 1);
    QCOMPARE(averageOf(w.get()), QString());
}

void tst_reportwindows::refusedQueryLeavesHeaderAndSaysWhy()
{
    Station s;
    auto w = s.open(ReportKind::Department);
    choose(w.get(), QStringLiteral("All"));
    QCOMPARE(w->grid()->rows(), 6);
    s.site.temp.db().run(QStringLiteral("DROP TABLE tblDept"));
    QTest::mouseClick(test::control<QPushButton>(w.get(), "Command2"), Qt::LeftButton);
    QCOMPARE(w->grid()->rows(), 1);
    QCOMPARE(w->grid()->textMatrix(0, 2), QStringLiteral("Dept."));
    QCOMPARE(s.prompt.messages.size(), 1);
    QVERIFY2(s.prompt.messages[0].contains(QLatin1String("tbldept"), Qt::CaseInsensitive),
             qPrintable(s.prompt.messages[0]));
    QCOMPARE(averageOf(w.get()), QString());
}

void tst_reportwindows::activationMakesCurrentReportWindow()
{
    Station s;
    // Nothing activated yet: "Send to Excel" has nothing to export.
    modExcel::sendToExcel(s.session.currentReportWindow, s.prompt, [](const QString&) { return true; });
    QCOMPARE(s.prompt.messages, QStringList{QStringLiteral("Error. Cannot Continue ")});

    auto dept = s.open(ReportKind::Department);
    auto pending = s.open(ReportKind::Pending);
    dept->show();
    pending->show();
    QApplication::setActiveWindow(dept.get());
    QTRY_COMPARE(s.session.currentReportWindow.data(), static_cast<QObject*>(dept.get()));
    QApplication::setActiveWindow(pending.get());
    QTRY_COMPARE(s.session.currentReportWindow.data(), static_cast<QObject*>(pending.get()));
}

void tst_reportwindows::resizeFollowsTheWindow()
{
    Station s;
    auto w = s.open(ReportKind::Department);
    w->show();
    w->resize(1000, 700);
    QApplication::processEvents();
    const qreal dpiX = w->logicalDpiX(), dpiY = w->logicalDpiY();
    const int wt = pixelsToTwips(1000, dpiX), ht = pixelsToTwips(700, dpiY);
    QCOMPARE(w->grid()->width(), twipsToPixels(wt - 400, dpiX));
    QCOMPARE(w->grid()->height(), twipsToPixels(ht - 2400, dpiY));
    QCOMPARE(test::control<QWidget>(w.get(), "Frame1")->width(), twipsToPixels(wt - 400, dpiX));
    auto* close = test::control<QPushButton>(w.get(), "Command1");
    QCOMPARE(close->mapTo(w.get(), QPoint(0, 0)).x(), twipsToPixels(wt - 1600, dpiX));
    QVERIFY(close->isVisible());
}

void tst_reportwindows::manyRowsStayTheReportsRows_data()
{
    QTest::addColumn<int>("tokens");
    QTest::addColumn<int>("days");
    QTest::addColumn<bool>("showAll");
    QTest::addColumn<bool>("exported");
    QTest::newRow("busy day, average") << 30000 << 1 << false << false;
    QTest::newRow("Show All, exported") << 3000 << 1 << true << true;
    // Read in the background a few days at a time; exported before the last part is in.
    QTest::newRow("a fortnight in the background, exported") << 28000 << 14 << false << true;
}

// A busy range is shown from the report's own rows: the grid counts them, makes a cell's text
// when it is read, and the average line and "Send to Excel" read the same rows.
void tst_reportwindows::manyRowsStayTheReportsRows()
{
    QFETCH(int, tokens);
    QFETCH(int, days);
    QFETCH(bool, showAll);
    QFETCH(bool, exported);
    Station s;
    // Every third token of a day unfinished, the others 5 or 7 minutes at Counter 1; the tokens
    // shared out over the days, from 2026-02-27 for a fortnight.
    const QDate first = days == 1 ? QDate(2026, 3, 12) : QDate(2026, 2, 27);
    for (int d = 0; d < days; ++d)
        s.site.temp.db().run(
            QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                           "attTime, finished, status) "
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                           "SELECT ?, i, ?, '08:00:00', '1', 'A' || i, ?, '10:00:00', "
                           "CASE i % 3 WHEN 0 THEN '' WHEN 1 THEN '10:05:00' ELSE '10:07:59' END, 'Finished' FROM n"),
            {tokens / days, s.site.consult, first.addDays(d).toString(Qt::ISODate), s.site.counter1});
    auto w = s.open(ReportKind::Department);
    choose(w.get(), QStringLiteral("Outpatients"));
    test::control<QCheckBox>(w.get(), "chkAll")->setChecked(showAll);
    test::control<QDateEdit>(w.get(), "dtFrom")->setDate(first);
    test::control<QDateEdit>(w.get(), "DTto")->setDate(first.addDays(days - 1));
    w->show_Click();
    QCOMPARE(w->filling(), days >= 4);
    const ReportResult expected = Reports::run(*s.connection.db(), w->request());
    QCOMPARE(int(expected.rows.size()), tokens);

    if (exported) {
        QTemporaryDir dir;
        qputenv("HOME", dir.path().toUtf8());
        QString written;
        modExcel::sendToExcel(w.get(), s.prompt, [&](const QString& p) {
            written = p;
            return true;
        });
        QVERIFY(!w->filling());
        QVERIFY2(!written.isEmpty(), qPrintable(s.prompt.messages.join(QLatin1Char('\n'))));
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets[0]\n"
                                 "rows = list(ws.iter_rows(values_only=True))\n"
                                 "print(len(rows), rows[0][4], rows[-1][1], rows[-1][4])"),
                  written});
        QVERIFY(py.waitForFinished(120000));
        QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                 QStringLiteral("%1 Token %2 %3")
                     .arg(tokens + 1)
                     .arg(tokens)
                     .arg(expected.text(size_t(tokens - 1), ReportColumn::Token)));
    }
    QTRY_VERIFY(!w->filling());

    Grid* fg = w->grid();
    const ReportResult* shown = reportOfGrid(*fg);
    QVERIFY(shown);
    QCOMPARE(fg->rows(), tokens + 1);
    QCOMPARE(fg->model()->rowCount(), tokens);
    QCOMPARE(int(shown->rows.size()), tokens);
    QCOMPARE(fg->textMatrix(0, int(ReportColumn::Token)), QStringLiteral("Token"));

    // Rows in the order of their days: the report's own order within a day.
    for (int r = 2; r <= tokens; ++r)
        QVERIFY(fg->textMatrix(r - 1, int(ReportColumn::Date)) <= fg->textMatrix(r, int(ReportColumn::Date)));
    for (const int r : {1, tokens / 2, tokens - 1, tokens}) {
        for (int c = int(ReportColumn::Key); c <= int(ReportColumn::Duration); ++c)
            QCOMPARE(fg->textMatrix(r, c), expected.text(size_t(r - 1), ReportColumn(c)));
        QCOMPARE(fg->model()->index(r - 1, int(ReportColumn::Token)).data().toString(),
                 expected.text(size_t(r - 1), ReportColumn::Token));
    }
    QCOMPARE(fg->textMatrix(tokens, int(ReportColumn::Sn)), QString::number(tokens));
    QCOMPARE(fg->textMatrix(tokens + 1, int(ReportColumn::Token)), QString()); // past the rows
    QCOMPARE(averageOf(w.get()), showAll ? QString() : expected.average);
    if (!showAll && days == 1) // (0 + 5 + 7) minutes over every three tokens
        QCOMPARE(averageOf(w.get()), QStringLiteral("Average Time : 4"));

    // Selecting far down reads the key from the rows.
    fg->setRow(tokens);
    QCOMPARE(fg->selectedKey(), expected.text(size_t(tokens - 1), ReportColumn::Key));
    QCOMPARE(fg->selectionModel()->selectedRows().size(), 1);

    // The next fill starts from the header again and holds cells of nobody else's; one still
    // reading stops and leaves none of its rows behind.
    w->show_Click();
    choose(w.get(), QStringLiteral("Radiology"));
    QCOMPARE(fg->rows(), 1);
    QVERIFY(reportOfGrid(*fg));
    QTRY_VERIFY(!w->filling());
    QCOMPARE(gridTokens(fg).join(QLatin1Char(' ')), days == 1 ? QString() : QStringLiteral("X1 X2 X3"));

    // Closed while reading: the reading ends with the window.
    choose(w.get(), QStringLiteral("Outpatients"));
    QCOMPARE(w->filling(), days >= 4);
    w.reset();
}

void tst_reportwindows::commandLineAgreesWithWindow_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("kindName");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("showAll");
    QTest::newRow("department, All") << int(ReportKind::Department) << "department" << "All" << false;
    QTest::newRow("department, apostrophe, Show All")
        << int(ReportKind::Department) << "department" << "St. Mary's Lab" << true;
    QTest::newRow("service") << int(ReportKind::Service) << "service" << "Blood test" << false;
    QTest::newRow("counter") << int(ReportKind::Counter) << "counter" << "All" << false;
    QTest::newRow("pending") << int(ReportKind::Pending) << "pending" << "All" << false;
}

void tst_reportwindows::commandLineAgreesWithWindow()
{
    QFETCH(int, kind);
    QFETCH(QString, kindName);
    QFETCH(QString, filter);
    QFETCH(bool, showAll);
    Station s;
    auto w = s.open(ReportKind(kind));
    choose(w.get(), filter);
    if (showAll)
        test::control<QCheckBox>(w.get(), "chkAll")->setChecked(true);
    Grid* fg = w->grid();
    QStringList expected;
    for (int r = 0; r < fg->rows(); ++r) {
        QStringList cells;
        for (int c = 1; c <= 9; ++c)
            cells << fg->textMatrix(r, c);
        expected << cells.join(QLatin1Char('\t'));
    }
    if (!averageOf(w.get()).isEmpty())
        expected << averageOf(w.get());

    QStringList args{QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("report"), kindName,
                     QStringLiteral("--filter"), filter, QStringLiteral("--from"), QStringLiteral("2026-03-14"),
                     QStringLiteral("--to=2026-03-14")};
    if (showAll)
        args << QStringLiteral("--all");
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"), args);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void tst_reportwindows::commandLineRefusesBadDates()
{
    Station s;
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
            {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("report"),
             QStringLiteral("department"), QStringLiteral("--from"), QStringLiteral("2026-02-30")});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    QVERIFY2(err.contains(QLatin1String("2026-02-30")), qPrintable(err));
}

void tst_reportwindows::commandLineWritesTheWorkbook()
{
    Station s;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("today.xlsx"));
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
            {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("report"),
             QStringLiteral("counter"), QStringLiteral("--from"), QStringLiteral("2026-03-14"),
             QStringLiteral("--to"), QStringLiteral("2026-03-14"), QStringLiteral("--xlsx"), file});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"),
              QStringLiteral("import sys, openpyxl; ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]; "
                             "print(ws.title, ws.max_row, ws.max_column, ws['G1'].value, type(ws['F2'].value).__name__, "
                             "sorted(str(ws.cell(r, 5).value) for r in range(2, ws.max_row + 1)))"),
              file});
    QVERIFY(py.waitForFinished(60000));
    // The grid as the window has it: key column, 10 more, the header and the four tokens.
    QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
             QStringLiteral("Report-Counter Based 5 11 Counter datetime ['A1', 'A2', 'B1', 'B3']"));
}

namespace {

// A grid's column as numbers, rows 1 to the last; an empty cell is absent.
QList<double> numbers(Grid* g, int col)
{
    QList<double> out;
    for (int r = 1; r < g->rows(); ++r)
        if (const QString t = g->textMatrix(r, col); !t.isEmpty())
            out << t.toDouble();
    return out;
}

std::unique_ptr<FigureWindow> openFigures(Station& s, FigureKind kind)
{
    auto w = std::make_unique<FigureWindow>(kind, s.connection, s.session, s.clock, s.prompt);
    test::control<QDateEdit>(w.get(), "dtFrom")->setDate(QDate(2026, 3, 10));
    w->addFG();
    return w;
}

} // namespace

void tst_reportwindows::figureChartShowsTheGridsNumbers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("rows");
    QTest::newRow("waiting") << int(FigureKind::Waiting) << "Waiting Times" << 4;
    QTest::newRow("levels") << int(FigureKind::Levels) << "Service Levels" << 4;
    QTest::newRow("hourly") << int(FigureKind::Hourly) << "Hourly Load" << 8;
    QTest::newRow("counters") << int(FigureKind::Counters) << "Counter Productivity" << 2;
}

void tst_reportwindows::figureChartShowsTheGridsNumbers()
{
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(int, rows);
    Station s;
    s.site.temp.db().run(QStringLiteral("UPDATE tblService SET slaMinutes=130 WHERE ServName='Consultation'"));
    const auto w = openFigures(s, FigureKind(kind));
    QCOMPARE(w->windowTitle(), title);
    Grid* g = w->grid();
    QCOMPARE(g->rows() - 1, rows);
    // The grid is the table the command line prints.
    for (int r = 1; r < g->rows(); ++r)
        for (int c = 1; c < g->cols(); ++c)
            QCOMPARE(g->textMatrix(r, c), w->table().rows[size_t(r - 1)].value(c - 1));

    QChart* chart = w->chartView()->chart();
    QVERIFY(!chart->series().isEmpty());
    if (auto* bars = qobject_cast<QBarSeries*>(chart->series().first())) {
        // Whole-number labels stand on whole-number ticks, above the highest column.
        auto* y = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).value(0));
        QVERIFY(y);
        const double step = (y->max() - y->min()) / (y->tickCount() - 1);
        QCOMPARE(y->min(), 0.0);
        QCOMPARE(step, std::round(step));
        for (const QBarSet* set : bars->barSets())
            for (int i = 0; i < set->count(); ++i)
                QVERIFY(set->at(i) < y->max());
    }
    auto barValues = [&](int set) {
        auto* bars = qobject_cast<QBarSeries*>(chart->series().first());
        QList<double> v;
        for (int i = 0; bars && i < bars->barSets().at(set)->count(); ++i)
            v << bars->barSets().at(set)->at(i);
        return v;
    };
    switch (FigureKind(kind)) {
    case FigureKind::Waiting: {
        // The histogram sums the bands of the grid's rows.
        QList<double> sums;
        for (int c = 8; c < g->cols(); ++c) {
            double sum = 0;
            for (const double v : numbers(g, c))
                sum += v;
            sums << sum;
        }
        QCOMPARE(barValues(0), sums);
        double called = 0;
        for (const double v : numbers(g, 3))
            called += v;
        QCOMPARE(std::accumulate(sums.begin(), sums.end(), 0.0), called);
        break;
    }
    case FigureKind::Levels: {
        // A line per service through its within-target percents.
        QList<double> points;
        for (QAbstractSeries* series : chart->series())
            for (const QPointF& p : qobject_cast<QLineSeries*>(series)->points())
                points << p.y();
        QCOMPARE(points, numbers(g, 7));
        QVERIFY(!points.isEmpty());
        break;
    }
    case FigureKind::Hourly:
        QCOMPARE(barValues(0), numbers(g, 3));
        QCOMPARE(barValues(1), numbers(g, 4));
        break;
    case FigureKind::Counters:
        QCOMPARE(barValues(0), numbers(g, 2));
        break;
    }
    if (!qEnvironmentVariableIsEmpty("TALLYVO_SHOTS")) {
        w->show();
        QTest::qWait(200);
        w->grab().save(qEnvironmentVariable("TALLYVO_SHOTS") + QLatin1Char('/') + title + QStringLiteral(".png"));
    }
}

// The filter names a service, a department or a counter, as chosen beside it; its list follows
// the choice and the grid holds what the figures give for that request.
void tst_reportwindows::figureFilter_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("scope");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("names"); // the filter's list
    QTest::addColumn<QStringList>("rows");  // each row's first cells
    auto texts = [](std::initializer_list<const char*> list) {
        QStringList out;
        for (const char* t : list)
            out << QString::fromUtf8(t);
        return out;
    };
    const QStringList departments{QStringLiteral("All"), QStringLiteral("Outpatients"), QStringLiteral("Radiology"),
                                  QStringLiteral("St. Mary's Lab")};
    const QStringList services{QStringLiteral("All"), QStringLiteral("Blood test"), QStringLiteral("Consultation"),
                               QStringLiteral("X-ray")};
    const QStringList counters{QStringLiteral("All"), QStringLiteral("Counter 1"), QStringLiteral("Counter 2")};
    QTest::newRow("waiting of a department")
        << int(FigureKind::Waiting) << "Department" << "Outpatients" << departments
        << texts({"Consultation|2026-03-13|1", "Consultation|2026-03-14|2"});
    QTest::newRow("levels of a department") << int(FigureKind::Levels) << "Department" << "Radiology" << departments
                                            << texts({"X-ray|2026-03-10|3"});
    QTest::newRow("levels of every department")
        << int(FigureKind::Levels) << "Department" << "All" << departments
        << texts({"Blood test|2026-03-14|3", "Consultation|2026-03-13|1", "Consultation|2026-03-14|3",
                  "X-ray|2026-03-10|3"});
    // The deleted counter's token is not Counter 2's.
    QTest::newRow("waiting at a counter") << int(FigureKind::Waiting) << "Counter" << "Counter 2" << counters
                                          << texts({"Blood test|2026-03-14|2"});
    QTest::newRow("counters of a service") << int(FigureKind::Counters) << "Service" << "Blood test" << services
                                           << texts({"Counter 2|2|10.0"});
    QTest::newRow("counters of a department")
        << int(FigureKind::Counters) << "Department" << "Outpatients" << departments
        << texts({"Counter 1|3|5.0"});
    QTest::newRow("hourly of a service") << int(FigureKind::Hourly) << "Service" << "X-ray" << services
                                         << texts({"Tuesday|08:00|3", "Tuesday|09:00|0"});
}

void tst_reportwindows::figureFilter()
{
    QFETCH(int, kind);
    QFETCH(QString, scope);
    QFETCH(QString, filter);
    QFETCH(QStringList, names);
    QFETCH(QStringList, rows);
    Station s;
    const auto w = openFigures(s, FigureKind(kind));
    auto* scopes = test::control<QComboBox>(w.get(), "cmbScope");
    auto* list = test::control<QComboBox>(w.get(), "cmbFilter");
    const int at = scopes->findText(scope);
    QVERIFY(at >= 0);
    scopes->setCurrentIndex(at);
    emit scopes->activated(at);
    QCOMPARE(list->currentText(), QStringLiteral("All"));
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed << list->itemText(i);
    QCOMPARE(listed, names);
    list->setCurrentIndex(list->findText(filter));
    emit list->activated(list->currentIndex());

    const FigureRequest r = w->request();
    QCOMPARE(r.name, filter);
    QCOMPARE(int(r.scope), scopes->currentData().toInt());
    Grid* g = w->grid();
    QStringList shown;
    for (int row = 1; row < g->rows(); ++row)
        shown << QStringList{g->textMatrix(row, 1), g->textMatrix(row, 2), g->textMatrix(row, 3)}.join(QLatin1Char('|'));
    QCOMPARE(shown, rows);
    // The window shows what the figures give for its request, as the command line would print.
    const FigureTable direct = QueueFigures(s.site.temp.db(), r).table(FigureKind(kind));
    QCOMPARE(int(direct.rows.size()), g->rows() - 1);
    for (int row = 1; row < g->rows(); ++row)
        for (int c = 1; c < g->cols(); ++c)
            QCOMPARE(g->textMatrix(row, c), direct.rows[size_t(row - 1)].value(c - 1));
    // TALLYVO_SHOTS=<folder> keeps a picture of the window for a person to look at.
    if (const QString folder = qEnvironmentVariable("TALLYVO_SHOTS"); !folder.isEmpty()) {
        w->resize(1100, 700);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->grab().save(QDir(folder).filePath(QStringLiteral("figures-%1.png").arg(QString::fromUtf8(QTest::currentDataTag()))
                                                 .replace(QLatin1Char(' '), QLatin1Char('-'))));
    }
}

void tst_reportwindows::figureWorkbookHasGridAndChart()
{
    Station s;
    const auto w = openFigures(s, FigureKind::Counters);
    QTemporaryDir dir;
    QString written;
    qputenv("HOME", dir.path().toUtf8());
    const QString path = w->sendToExcel([&](const QString& p) {
        written = p;
        return true;
    });
    QVERIFY2(!path.isEmpty(), qPrintable(s.prompt.messages.join(QLatin1Char('\n'))));
    QCOMPARE(written, path);
    // The main window's "Send to Excel" writes the same sheet, chart included.
    s.session.currentReportWindow = w.get();
    QString viaMenu;
    modExcel::sendToExcel(s.session.currentReportWindow, s.prompt, [&](const QString& p) {
        viaMenu = p;
        return true;
    });
    QVERIFY(!viaMenu.isEmpty() && viaMenu != path);
    for (const QString& book : {path, viaMenu}) {
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile, re, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                 "print(ws.title, [[c for c in r] for r in ws.iter_rows(values_only=True)])\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "print([(n, re.findall(r'<c:f>([^<]*)</c:f>', z.read(n).decode())) "
                                 "for n in z.namelist() if n.startswith('xl/charts/')])"),
                  book});
        QVERIFY(py.waitForFinished(60000));
        QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
        // Counter 1: A1 5, A2 7 minutes today (750 of 1020 s), A4 3 yesterday (all its 180 s);
        // Counter 2: B1 10 minutes, all of its day, and B3 open.
        QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()),
                 QStringLiteral("Counter Productivity [['Counter', 'Served', 'Average service', 'Serving share %'], "
                                "['Counter 1', 3, 5, 77.5], ['Counter 2', 2, 10, 100]]\n"
                                "[('xl/charts/chart1.xml', [\"'Counter Productivity'!$A$2:$A$3\", "
                                "\"'Counter Productivity'!$B$2:$B$3\"])]\n"));
    }
}

void tst_reportwindows::liveBoardShowsTheQueueAndFollowsChanges()
{
    Station s;
    s.site.temp.db().run(QStringLiteral("UPDATE tblService SET slaMinutes=30 WHERE ServName='Consultation'"));
    LiveBoardWindow w(s.connection, s.clock, s.prompt);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("Live Board"));
    Grid* services = w.services();
    // Active services by name; A3 has waited since 08:00, past Consultation's 30 minutes.
    QCOMPARE(services->rows(), 4);
    QCOMPARE(services->textMatrix(0, 2), QStringLiteral("Waiting"));
    QCOMPARE(services->textMatrix(1, 1), QStringLiteral("Blood test"));
    QCOMPARE(services->textMatrix(2, 1), QStringLiteral("Consultation"));
    QCOMPARE(services->textMatrix(2, 2), QStringLiteral("1"));
    QCOMPARE(services->textMatrix(2, 3), QStringLiteral("300"));
    QCOMPARE(services->textMatrix(2, 7), QStringLiteral("30"));
    QVERIFY(services->cellBackColor(2, 1) != services->cellBackColor(1, 1));
    Grid* counters = w.counters();
    QCOMPARE(counters->textMatrix(1, 1), QStringLiteral("Counter 1"));
    QCOMPARE(counters->textMatrix(1, 4), QStringLiteral("Idle"));
    QCOMPARE(counters->textMatrix(1, 6), QStringLiteral("10:17:00"));
    QCOMPARE(counters->textMatrix(2, 4), QStringLiteral("Serving"));
    QCOMPARE(counters->textMatrix(2, 5), QStringLiteral("B3"));
    QCOMPARE(counters->textMatrix(2, 6), QStringLiteral("12:00:00"));

    // Another station calls A3: the board follows without waiting for its slow timer.
    if (!qEnvironmentVariableIsEmpty("TALLYVO_SHOTS"))
        w.grab().save(qEnvironmentVariable("TALLYVO_SHOTS") + QStringLiteral("/Live Board.png"));
    const int before = w.refreshCount();
    auto other = s.site.temp.openAnother();
    other->run(QStringLiteral("UPDATE tblTicket SET call='1', attended=?, attTime='13:00:00', firstCall='13:00:00', "
                              "status='Finished' WHERE no_abr='A3'"),
               {s.site.counter1});
    other->run(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, tickDate) "
                              "SELECT ?, 'A3', 'One', '0', tickAuto, '2026-03-14' FROM tblTicket WHERE no_abr='A3'"),
               {s.site.counter1});
    QTRY_VERIFY_WITH_TIMEOUT(w.refreshCount() > before, 5000);
    QTRY_COMPARE(counters->textMatrix(1, 5), QStringLiteral("A3"));
    QCOMPARE(services->textMatrix(2, 2), QStringLiteral("0"));
    QCOMPARE(services->cellBackColor(2, 1), services->cellBackColor(1, 1));

    // A token issued at another station shows at once, with no call made, and so does a token
    // transferred back into the queue: the board does not wait for its slow timer for either.
    QCOMPARE(services->textMatrix(1, 2), QStringLiteral("0"));
    other->run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                              "attTime, finished, status) VALUES (?, 4, '2026-03-14', '12:50:00', '0', 'B4', 0, '', '', "
                              "'')"),
               {s.site.blood});
    QTRY_COMPARE_WITH_TIMEOUT(services->textMatrix(1, 2), QStringLiteral("1"), 5000);
    QCOMPARE(services->textMatrix(1, 3), QStringLiteral("10"));
    other->run(QStringLiteral("UPDATE tblTicket SET call='0', status='Transferred' WHERE no_abr='B3'"));
    QTRY_COMPARE_WITH_TIMEOUT(services->textMatrix(1, 2), QStringLiteral("2"), 5000);
    QCOMPARE(counters->textMatrix(2, 4), QStringLiteral("Idle"));
}

TALLYVO_TEST_MAIN(tst_reportwindows)
#include "tst_reportwindows.moc"
