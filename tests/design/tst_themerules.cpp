#include "TestSupport.h"

#include "design/ThemeRules.h"
#include "design/cRect.h"

#include <QApplication>
#include <QTest>

using namespace tallyvo;
using ThemeRules::NumberBox;

Q_DECLARE_METATYPE(tallyvo::ThemeRules::NumberBox)

class tst_themerules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void numberBoxCorrections_data();
    void numberBoxCorrections();
    void columnWidths_data();
    void columnWidths();
    void defaultWidthsFollowTheColumnCount();
    void rectArithmetic();
    void rectConversionsRoundTrip();
};

void tst_themerules::numberBoxCorrections_data()
{
    QTest::addColumn<NumberBox>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("colums letters") << NumberBox::Colums << "abc" << "2";
    QTest::newRow("colums number stays as typed") << NumberBox::Colums << " 3 " << " 3 ";
    QTest::newRow("rows reset is 2, not 12") << NumberBox::Rows << "x" << "2";
    QTest::newRow("rows empty") << NumberBox::Rows << "" << "2";
    QTest::newRow("rows 15") << NumberBox::Rows << "15" << "15";
    QTest::newRow("row height reset is 200, not 500") << NumberBox::RowHeight << "tall" << "200";
    QTest::newRow("row height decimal") << NumberBox::RowHeight << "512.5" << "512.5";
    QTest::newRow("slide duration") << NumberBox::SlideDuration << "5s" << "5";
    QTest::newRow("page interval") << NumberBox::PageInterval << "fast" << "3000";
    QTest::newRow("volume 10 stays") << NumberBox::Volume << "10" << "10";
    QTest::newRow("volume 11") << NumberBox::Volume << "11" << "5";
    QTest::newRow("volume exponent above 10") << NumberBox::Volume << "1e2" << "5";
    QTest::newRow("volume 0 stays") << NumberBox::Volume << "0" << "0";
    QTest::newRow("volume letters") << NumberBox::Volume << "loud" << "5";
    QTest::newRow("line width 0") << NumberBox::LineWidth << "0" << "1";
    QTest::newRow("line width half") << NumberBox::LineWidth << "0.5" << "1";
    QTest::newRow("line width 3 stays") << NumberBox::LineWidth << "3" << "3";
    QTest::newRow("line width letters") << NumberBox::LineWidth << "thin" << "1";
}

void tst_themerules::numberBoxCorrections()
{
    QFETCH(NumberBox, box);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QCOMPARE(ThemeRules::corrected(box, typed), kept);
}

void tst_themerules::columnWidths_data()
{
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QString>("colums");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("three for three") << "2500;2500;2500" << "3" << true;
    QTest::newRow("three for two") << "2500;2500;2500" << "2" << false;
    QTest::newRow("empty middle entry") << "2500;;2500" << "3" << true;
    QTest::newRow("letters") << "2500;abc" << "2" << false;
    QTest::newRow("empty") << "" << "1" << false;
    QTest::newRow("one for one") << "4000" << "1" << true;
    QTest::newRow("blank inside an entry") << "2500; 2500" << "2" << false;
    QTest::newRow("count as typed with blanks") << "100;200" << " 2 " << true;
}

void tst_themerules::columnWidths()
{
    QFETCH(QString, widths);
    QFETCH(QString, colums);
    QFETCH(bool, accepted);
    QCOMPARE(ThemeRules::chkVal(widths, colums), accepted);
}

void tst_themerules::defaultWidthsFollowTheColumnCount()
{
    QCOMPARE(ThemeRules::defaultWidths(QStringLiteral("3")), QStringLiteral("2500;2500;2500"));
    QCOMPARE(ThemeRules::defaultWidths(QStringLiteral("1")), QStringLiteral("2500"));
    QVERIFY(ThemeRules::chkVal(ThemeRules::defaultWidths(QStringLiteral("7")), QStringLiteral("7")));
    // A count typed by mistake (a billion columns) must not build a text of gigabytes.
    QVERIFY(ThemeRules::defaultWidths(QStringLiteral("1e9")).size() < 1000);
    QCOMPARE(ThemeRules::leadingValue(QStringLiteral("  12abc")), 12.0);
    QCOMPARE(ThemeRules::leadingValue(QStringLiteral("abc")), 0.0);
}

void tst_themerules::rectArithmetic()
{
    cRect r;
    r.SetRectToCtrl(QRectF(240.4, 120.6, 4455, 255));
    QCOMPARE(r, (cRect{240, 121, 4695, 376}));
    QCOMPARE(r.Width(), 4455);
    r.setWidth(100);
    QCOMPARE(r.Right, 340);
    r.setHeight(-50); // an edge dragged past the opposite one
    QCOMPARE(r.Bottom, 71);

    QVERIFY(!r.PtInRect(300, 100)); // flipped: nothing inside until put in order
    const QRect placed = r.SetCtrlToRect();
    QCOMPARE(placed, QRect(240, 71, 100, 50));
    QCOMPARE(r, (cRect{240, 71, 340, 121}));

    // Left and top edges are inside, right and bottom outside; fractions count.
    QVERIFY(r.PtInRect(240, 71));
    QVERIFY(r.PtInRect(339.9, 120.9));
    QVERIFY(!r.PtInRect(340, 100));
    QVERIFY(!r.PtInRect(300, 121));
    QVERIFY(!r.PtInRect(239.9, 100));
}

void tst_themerules::rectConversionsRoundTrip()
{
    cRect r;
    r.SetRectToCtrl(QRectF(240, 120, 4455, 255));
    r.TwipsToScreen(15.0, QPoint(100, 50));
    // 240/15 = 16, 4695/15 = 313, 120/15 = 8, 375/15 = 25, each moved to the screen.
    QCOMPARE(r, (cRect{116, 58, 413, 75}));
    r.ScreenToTwips(15.0, QPoint(100, 50));
    QCOMPARE(r, (cRect{240, 120, 4695, 375}));

    // Off-pixel twips come back rounded to whole pixels: 250 twips is 16.7 pixels, so 17.
    cRect odd;
    odd.SetRectToCtrl(QRectF(250, 0, 100, 100));
    odd.TwipsToScreen(15.0, QPoint(0, 0));
    QCOMPARE(odd.Left, 17);
    odd.ScreenToTwips(15.0, QPoint(0, 0));
    QCOMPARE(odd.Left, 255);
}

TALLYVO_TEST_MAIN(tst_themerules)
#include "tst_themerules.moc"
