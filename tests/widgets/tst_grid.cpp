#include "widgets/BgrColor.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"

#include <QHeaderView>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

// A stored 0x00BBGGRR integer must not slip into a colour setter as 0xRRGGBB.
template <typename C>
concept BackColorTakes = requires(Grid& g, C c) {
    g.setBackColor(c);
};
template <typename C>
concept CellForeColorTakes = requires(Grid& g, C c) {
    g.setCellForeColor(1, 1, c);
};
static_assert(!BackColorTakes<int> && !CellForeColorTakes<unsigned>);
static_assert(BackColorTakes<Qt::GlobalColor> && CellForeColorTakes<QColor>);

namespace {

// A list as the windows build it: a hidden key column, a header, one row per record.
void fill(Grid& grid, const QStringList& names) {
    grid.setCols(3);
    grid.setColWidth(0, 1);
    grid.setColWidth(1, 2000);
    grid.setTextMatrix(0, 1, QStringLiteral("Name"));
    grid.setRows(1);
    for (int n = 1; n <= names.size(); ++n) {
        grid.setRows(n + 1);
        grid.setTextMatrix(n, 0, QString::number(n * 10));
        grid.setTextMatrix(n, 1, names.at(n - 1));
    }
}

QPoint cellCentre(const Grid& grid, int row, int col) {
    return grid.visualRect(grid.model()->index(row - 1, col)).center();
}

// The colour drawn one pixel inside the top-left corner of a data cell.
QColor cellCornerColour(Grid& grid, int row, int col) {
    const QPoint corner = grid.visualRect(grid.model()->index(row - 1, col)).topLeft() + QPoint(1, 1);
    return grid.grab().toImage().pixelColor(grid.viewport()->mapTo(&grid, corner));
}

// Height of the band of rows holding ink of the given colour inside a cell.
int inkHeight(Grid& grid, int row, int col, const QColor& ink) {
    const QRect rect = grid.visualRect(grid.model()->index(row - 1, col));
    const QImage image = grid.grab().toImage();
    const QPoint origin = grid.viewport()->mapTo(&grid, rect.topLeft());
    int first = -1, last = -1;
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x) {
            if (image.pixelColor(origin + QPoint(x, y)) == ink) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

} // namespace

class TestGrid : public QObject {
    Q_OBJECT
private slots:
    void twipsConvert_data();
    void twipsConvert();
    void bgrColours();
    void emptyFillLeavesHeaderRow();
    void growingAndShrinkingKeepText();
    void batchAnnouncesOnce();
    void rowSourceGivesTextsOnDemand();
    void outOfRangeIsHarmless();
    void keyColumnHiddenButReadable();
    void sizesFollowTwips();
    void rowHeightMinimumCoversLaterRows();
    void selectedKeyEmptyOnHeaderAndKeylessRows();
    void selectionFollowsShrinkingRows();
    void doubleClickReportsClickedRow();
    void clicksAndDrags();
    void keyboardMovesAndActivates();
    void cellLookLandsOnOneCell();
    void drawingUsesColoursAndPictures();
    void multiLineTextShowsTwoLines();
};

void TestGrid::twipsConvert_data() {
    QTest::addColumn<double>("twips");
    QTest::addColumn<qreal>("dpi");
    QTest::addColumn<int>("pixels");
    QTest::newRow("96 dpi: 15 twips a pixel") << 15.0 << 96.0 << 1;
    QTest::newRow("96 dpi: key column") << 1.0 << 96.0 << 0;
    QTest::newRow("96 dpi: 5000 twips") << 5000.0 << 96.0 << 333;
    QTest::newRow("96 dpi: an inch") << 1440.0 << 96.0 << 96;
    QTest::newRow("144 dpi: 10 twips a pixel") << 10.0 << 144.0 << 1;
    QTest::newRow("144 dpi: 5000 twips") << 5000.0 << 144.0 << 500;
    QTest::newRow("144 dpi: negative offset") << -100.0 << 144.0 << -10;
    QTest::newRow("no density reported: 96") << 150.0 << 0.0 << 10;
}

void TestGrid::twipsConvert() {
    QFETCH(double, twips);
    QFETCH(qreal, dpi);
    QFETCH(int, pixels);
    QCOMPARE(twipsToPixels(twips, dpi), pixels);
    if (qAbs(twips) >= 10) // the round trip is exact to a pixel
        QVERIFY(qAbs(pixelsToTwips(pixels, dpi) - twips) <= twipsPerPixel(dpi) / 2);
}

void TestGrid::bgrColours() {
    QCOMPARE(colorFromBgr(0x0000FF), QColor(Qt::red));
    QCOMPARE(colorFromBgr(0xFF0000), QColor(Qt::blue));
    QCOMPARE(colorFromBgr(4210752), QColor(0x40, 0x40, 0x40));
    QCOMPARE(colorFromBgr(0x123456), QColor(0x56, 0x34, 0x12));
    QCOMPARE(bgrFromColor(QColor(0x56, 0x34, 0x12)), 0x123456);
    QCOMPARE(bgrFromColor(Qt::red), 0x0000FF);
    // Old system-colour codes and garbage give no colour rather than a wrong one, and back.
    QVERIFY(!colorFromBgr(int(0x80000005)).isValid());
    QVERIFY(!colorFromBgr(0x1000000).isValid());
    QCOMPARE(bgrFromColor(QColor()), -1);
    QVERIFY(!colorFromBgr(bgrFromColor(QColor())).isValid());
}

void TestGrid::emptyFillLeavesHeaderRow() {
    Grid grid;
    fill(grid, {QStringLiteral("Cardiology"), QStringLiteral("Radiology")});
    grid.setRows(1); // a refill whose query found nothing
    QCOMPARE(grid.rows(), 1);
    QCOMPARE(grid.model()->rowCount(), 0);
    QCOMPARE(grid.textMatrix(0, 1), QStringLiteral("Name"));
    QCOMPARE(grid.textMatrix(1, 1), QString());

    grid.setRows(0);
    grid.setRows(-3);
    QCOMPARE(grid.rows(), 1);
    grid.setCols(0);
    QCOMPARE(grid.cols(), 1);

    grid.setRows(2); // the next fill starts from clean rows
    QCOMPARE(grid.textMatrix(1, 1), QString());
    QCOMPARE(grid.textMatrix(1, 0), QString());
}

void TestGrid::growingAndShrinkingKeepText() {
    Grid grid;
    grid.setCols(4);
    grid.setRows(4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            grid.setTextMatrix(r, c, QStringLiteral("%1,%2").arg(r).arg(c));

    grid.setRows(7);
    grid.setCols(6);
    QCOMPARE(grid.textMatrix(3, 3), QStringLiteral("3,3"));
    QCOMPARE(grid.textMatrix(0, 0), QStringLiteral("0,0"));
    QCOMPARE(grid.textMatrix(6, 5), QString());
    QCOMPARE(grid.model()->rowCount(), 6);

    grid.setRows(3);
    grid.setCols(2);
    QCOMPARE(grid.textMatrix(2, 1), QStringLiteral("2,1"));
    QCOMPARE(grid.textMatrix(3, 1), QString());
    grid.setCols(4); // dropped columns come back empty
    QCOMPARE(grid.textMatrix(1, 3), QString());
    QCOMPARE(grid.textMatrix(1, 1), QStringLiteral("1,1"));

    // A cell's look moves with its text when the columns change.
    grid.setCellBackColor(2, 1, Qt::red);
    grid.setCols(7);
    QCOMPARE(grid.cellBackColor(2, 1), QColor(Qt::red));
    QVERIFY(!grid.cellBackColor(2, 2).isValid() && !grid.cellBackColor(1, 1).isValid());
    QCOMPARE(grid.textMatrix(2, 1), QStringLiteral("2,1"));
}

void TestGrid::batchAnnouncesOnce() {
    Grid grid;
    grid.setCols(3);
    grid.setRows(1);
    QSignalSpy changed(grid.model(), &QAbstractItemModel::dataChanged);
    {
        const Grid::Batch outer(grid);
        grid.setRows(501);
        {
            const Grid::Batch inner(grid);
            for (int r = 1; r <= 500; ++r)
                grid.setTextMatrix(r, 1, QString::number(r));
        }
        QCOMPARE(changed.count(), 0); // the outer batch still runs
        QCOMPARE(grid.textMatrix(250, 1), QStringLiteral("250"));
    }
    QCOMPARE(changed.count(), 1);
    QCOMPARE(grid.model()->data(grid.model()->index(499, 1)).toString(), QStringLiteral("500"));
    grid.setTextMatrix(3, 2, QStringLiteral("x")); // after the batch, each change is announced
    QCOMPARE(changed.count(), 2);
}

namespace {

// "r,c" for every cell of a million rows, counting the texts asked for.
class CountingRows final : public GridRowSource {
public:
    explicit CountingRows(int rows)
        : m_rows(rows) {}
    int rowCount() const override { return m_rows; }
    QString text(int row, int col) const override {
        ++asked;
        return QStringLiteral("%1,%2").arg(row + 1).arg(col);
    }
    mutable qint64 asked = 0;

private:
    int m_rows;
};

} // namespace

void TestGrid::rowSourceGivesTextsOnDemand() {
    Grid grid;
    grid.resize(600, 400);
    grid.setCols(3);
    grid.setColWidth(1, 2000);
    grid.setTextMatrix(0, 1, QStringLiteral("Name"));
    grid.setRows(1);
    auto rows = std::make_shared<CountingRows>(1000000);
    grid.setRowSource(rows);
    QCOMPARE(grid.rows(), 1000001);
    QCOMPARE(grid.model()->rowCount(), 1000000);
    QCOMPARE(grid.textMatrix(0, 1), QStringLiteral("Name")); // the header is the grid's own
    QCOMPARE(grid.colWidth(1), 2000);
    QCOMPARE(grid.textMatrix(1000000, 2), QStringLiteral("1000000,2"));
    QCOMPARE(grid.model()->index(499999, 1).data().toString(), QStringLiteral("500000,1"));
    QCOMPARE(grid.textMatrix(1000001, 1), QString());

    // Drawing asks only for the rows in sight.
    rows->asked = 0;
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.grab();
    QVERIFY(rows->asked > 0);
    QVERIFY2(rows->asked < 3000, qPrintable(QString::number(rows->asked)));

    // Selection, a text and a look of one cell of its own, kept through a change of columns.
    grid.setRow(999999);
    QCOMPARE(grid.selectedKey(), QStringLiteral("999999,0"));
    QSignalSpy changed(grid.model(), &QAbstractItemModel::dataChanged);
    grid.setTextMatrix(700000, 1, QStringLiteral("mine"));
    grid.setTextMatrix(700000, 2, QStringLiteral("700000,2")); // what it shows already
    QCOMPARE(changed.count(), 1);
    grid.setCellBackColor(700001, 1, Qt::red);
    grid.setCols(4);
    QCOMPARE(grid.textMatrix(700000, 1), QStringLiteral("mine"));
    QCOMPARE(grid.textMatrix(700001, 1), QStringLiteral("700001,1"));
    QCOMPARE(grid.cellBackColor(700001, 1), QColor(Qt::red));
    QVERIFY(!grid.cellBackColor(700000, 1).isValid());
    QCOMPARE(grid.textMatrix(5, 3), QStringLiteral("5,3"));

    // A fill starting from the header lets the source go; the grid holds cells again.
    grid.setRows(1);
    QVERIFY(!grid.rowSource());
    QCOMPARE(rows.use_count(), 1);
    grid.setRows(3);
    QCOMPARE(grid.textMatrix(2, 1), QString());
    QCOMPARE(grid.textMatrix(0, 1), QStringLiteral("Name"));
    QVERIFY(!grid.cellBackColor(2, 1).isValid());
    grid.setTextMatrix(2, 1, QStringLiteral("x"));
    QCOMPARE(grid.textMatrix(2, 1), QStringLiteral("x"));
}

void TestGrid::outOfRangeIsHarmless() {
    Grid grid;
    grid.setTextMatrix(5, 5, QStringLiteral("x"));
    grid.setTextMatrix(-1, 0, QStringLiteral("x"));
    QCOMPARE(grid.textMatrix(5, 5), QString());
    QCOMPARE(grid.textMatrix(-1, -1), QString());
    grid.setRow(1);
    grid.setCol(1);
    grid.setRow(9);
    grid.setCol(-2);
    QCOMPARE(grid.row(), 1);
    QCOMPARE(grid.col(), 1);
    grid.setColWidth(9, 100);
    grid.setRowHeight(-1, 100);
    grid.setCellBackColor(7, 7, Qt::red);
    QCOMPARE(grid.colWidth(9), 0);
    QCOMPARE(grid.rowHeight(9), 0);
    QVERIFY(!grid.cellBackColor(7, 7).isValid());
    QVERIFY(!grid.mergeRow(9));
}

void TestGrid::keyColumnHiddenButReadable() {
    Grid grid;
    grid.resize(400, 300);
    fill(grid, {QStringLiteral("Cardiology")});
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    QCOMPARE(grid.colWidth(0), 1);
    QCOMPARE(grid.horizontalHeader()->sectionSize(0), 0);
    QCOMPARE(grid.visualRect(grid.model()->index(0, 0)).width(), 0);
    QCOMPARE(grid.columnAt(0), 1); // the first pixel already belongs to the visible name
    QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("10"));
}

void TestGrid::sizesFollowTwips() {
    Grid grid;
    fill(grid, {QStringLiteral("a"), QStringLiteral("b")});
    grid.setColWidth(1, 5000);
    grid.setRowHeight(1, 500);
    grid.setRowHeight(0, 600);
    const qreal dpiX = grid.logicalDpiX();
    const qreal dpiY = grid.logicalDpiY();
    QCOMPARE(grid.horizontalHeader()->sectionSize(1), twipsToPixels(5000, dpiX));
    QCOMPARE(grid.verticalHeader()->sectionSize(0), twipsToPixels(500, dpiY));
    QCOMPARE(grid.horizontalHeader()->height(), twipsToPixels(600, dpiY));
    QCOMPARE(grid.colWidth(1), 5000);
    QCOMPARE(grid.rowHeight(1), 500);

    grid.setRow(1);
    grid.setCol(1);
    QCOMPARE(grid.cellWidth(), 5000);
    QCOMPARE(grid.cellHeight(), 500);

    const int defaultWidth = grid.colWidth(2);
    grid.setColWidth(2, 3000);
    grid.setColWidth(2, -1); // back to the default
    QCOMPARE(grid.colWidth(2), defaultWidth);
}

void TestGrid::rowHeightMinimumCoversLaterRows() {
    Grid grid;
    fill(grid, {QStringLiteral("a")});
    grid.setRowHeight(1, 300);
    grid.setRowHeightMin(1000);
    const int minPixels = twipsToPixels(1000, grid.logicalDpiY());

    grid.setRows(5);
    grid.setRowHeight(4, 1500);
    for (int row = 1; row <= 3; ++row) {
        QCOMPARE(grid.rowHeight(row), 1000);
        QCOMPARE(grid.verticalHeader()->sectionSize(row - 1), minPixels);
    }
    QCOMPARE(grid.rowHeight(4), 1500);
    QCOMPARE(grid.rowHeight(0), 1000);
    QCOMPARE(grid.horizontalHeader()->height(), minPixels);

    grid.setRowHeightMin(0); // an explicit height shows again once the minimum is lifted
    QCOMPARE(grid.rowHeight(1), 300);
    QCOMPARE(grid.verticalHeader()->sectionSize(0), twipsToPixels(300, grid.logicalDpiY()));
}

void TestGrid::selectedKeyEmptyOnHeaderAndKeylessRows() {
    Grid grid;
    fill(grid, {QStringLiteral("Cardiology"), QStringLiteral("Radiology")});
    grid.setRows(4);
    grid.setTextMatrix(3, 1, QStringLiteral("<-Back")); // a row without a record

    grid.setRow(2);
    QCOMPARE(grid.selectedRow(), 2);
    QCOMPARE(grid.selectedKey(), QStringLiteral("20"));
    grid.setRow(3);
    QCOMPARE(grid.selectedKey(), QString());
    grid.setRow(0);
    QCOMPARE(grid.selectedKey(), QString());
    grid.setTextMatrix(0, 0, QStringLiteral("header text in the key column"));
    QCOMPARE(grid.selectedKey(), QString());
}

void TestGrid::selectionFollowsShrinkingRows() {
    Grid grid;
    fill(grid, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
    grid.setRow(4);
    grid.setRows(3);
    QCOMPARE(grid.row(), 2);
    QCOMPARE(grid.selectedKey(), QStringLiteral("20"));

    grid.setRows(1);
    QCOMPARE(grid.row(), 0);
    QCOMPARE(grid.selectedRow(), 0);
    // A refill must not leave a stale row selected for the next Edit or Delete.
    fill(grid, {QStringLiteral("x"), QStringLiteral("y")});
    QCOMPARE(grid.selectedKey(), QString());
    QVERIFY(!grid.selectionModel()->hasSelection());
}

void TestGrid::doubleClickReportsClickedRow() {
    Grid grid;
    grid.resize(400, 400);
    fill(grid, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    QStringList seen;
    connect(&grid, &Grid::doubleClicked, &grid,
            [&] { seen << QStringLiteral("%1:%2").arg(grid.selectedRow()).arg(grid.selectedKey()); });
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(grid, 2, 1));
    QCOMPARE(seen, QStringList{QStringLiteral("2:20")});

    // The empty area below the rows chooses nothing and keeps the selection.
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, QPoint(20, grid.viewport()->height() - 5));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(grid.selectedRow(), 2);

    QHeaderView* header = grid.horizontalHeader();
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                       QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QCOMPARE(seen.last(), QStringLiteral("0:"));
    QCOMPARE(grid.textMatrix(0, 1), QStringLiteral("Name"));
}

void TestGrid::clicksAndDrags() {
    Grid grid;
    grid.resize(400, 400);
    fill(grid, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QSignalSpy clicks(&grid, &Grid::clicked);
    QSignalSpy doubleClicks(&grid, &Grid::doubleClicked);
    QWidget* viewport = grid.viewport();

    QTest::mouseClick(viewport, Qt::LeftButton, {}, cellCentre(grid, 3, 1));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(grid.selectedKey(), QStringLiteral("30"));

    // Press, release, press, double-click, release: one click and one double-click.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, cellCentre(grid, 1, 1));
    QTest::mousePress(viewport, Qt::LeftButton, {}, cellCentre(grid, 1, 1));
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, cellCentre(grid, 1, 1));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, cellCentre(grid, 1, 1));
    QCOMPARE(clicks.size(), 2);
    QCOMPARE(doubleClicks.size(), 1);

    // Dragging selects a range from where it started and is not a click.
    QTest::mousePress(viewport, Qt::LeftButton, {}, cellCentre(grid, 2, 1));
    QTest::mouseMove(viewport, cellCentre(grid, 4, 1));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, cellCentre(grid, 4, 1));
    QCOMPARE(clicks.size(), 2);
    QCOMPARE(grid.row(), 2);
    QCOMPARE(grid.selectedRow(), 4);
    QCOMPARE(grid.selectionModel()->selectedRows().size(), 3);

    QTest::mouseClick(viewport, Qt::LeftButton, {}, cellCentre(grid, 1, 1));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, cellCentre(grid, 3, 1));
    QCOMPARE(grid.row(), 1);
    QCOMPARE(grid.selectedRow(), 3);

    // A click on the empty area changes nothing and reports nothing.
    const int before = int(clicks.size());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
    QCOMPARE(clicks.size(), before);
    QCOMPARE(grid.selectedRow(), 3);
}

void TestGrid::keyboardMovesAndActivates() {
    Grid grid;
    grid.resize(400, 400);
    fill(grid, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QSignalSpy doubleClicks(&grid, &Grid::doubleClicked);

    QTest::keyClick(&grid, Qt::Key_Return); // nothing selected yet
    QCOMPARE(doubleClicks.size(), 0);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(grid.selectedRow(), 1);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(grid.row(), 1);
    QCOMPARE(grid.selectedRow(), 2);
    QTest::keyClick(&grid, Qt::Key_End);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(grid.row(), 3);
    QCOMPARE(grid.selectedRow(), 3);
    QTest::keyClick(&grid, Qt::Key_Return);
    QCOMPARE(doubleClicks.size(), 1);
}

void TestGrid::cellLookLandsOnOneCell() {
    Grid grid;
    fill(grid, {QStringLiteral("a"), QStringLiteral("b")});
    const QString defaultFamily = grid.font().family();
    const bool defaultBold = grid.font().bold();

    grid.setRow(2);
    grid.setCol(1);
    grid.setCellFontName(QStringLiteral("Arial"));
    grid.setCellFontSize(14.25);
    grid.setCellFontBold(!defaultBold);
    grid.setCellBackColor(colorFromBgr(0x0000FF));
    grid.setCellForeColor(Qt::white);
    grid.setCellFontBold(0, 1, true); // a header cell, named directly
    QCOMPARE(grid.row(), 2);

    QCOMPARE(grid.cellFontName(), QStringLiteral("Arial"));
    QCOMPARE(grid.cellFontSize(), 14.25);
    QCOMPARE(grid.cellFontBold(), !defaultBold);
    QCOMPARE(grid.cellBackColor(), QColor(Qt::red));
    QCOMPARE(grid.cellForeColor(2, 1), QColor(Qt::white));
    QVERIFY(grid.cellFontBold(0, 1));

    for (const auto& [row, col] : {std::pair{1, 1}, {2, 2}, {2, 0}, {0, 2}}) {
        QCOMPARE(grid.cellFontName(row, col), defaultFamily);
        QCOMPARE(grid.cellFontSize(row, col), grid.font().pointSizeF());
        QCOMPARE(grid.cellFontBold(row, col), defaultBold);
        QVERIFY(!grid.cellBackColor(row, col).isValid());
        QVERIFY(!grid.cellForeColor(row, col).isValid());
    }

    grid.setMergeCells(true);
    grid.setMergeRow(0, true);
    grid.setMergeCol(1, true);
    QVERIFY(grid.mergeCells() && grid.mergeRow(0) && grid.mergeCol(1) && !grid.mergeRow(1));
}

void TestGrid::drawingUsesColoursAndPictures() {
    Grid grid;
    grid.resize(500, 400);
    fill(grid, {QString(), QString(), QString()});
    grid.setCols(4);
    grid.setHighlight(Grid::Highlight::Never);
    grid.setRowHeightMin(600);
    grid.setBackColor(Qt::white);
    grid.setBackColorBkg(Qt::darkGray);
    grid.setBackColorFixed(Qt::yellow);
    grid.setCellBackColor(2, 2, Qt::green);
    QPixmap blue(4, 4);
    blue.fill(Qt::blue);
    grid.setCellPicture(3, 1, blue); // stretched over the whole cell
    grid.setCellPicture(3, 2, blue, Grid::PictureFit::Clip);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    QCOMPARE(cellCornerColour(grid, 2, 2), QColor(Qt::green));
    QCOMPARE(cellCornerColour(grid, 2, 1), QColor(Qt::white));
    QCOMPARE(cellCornerColour(grid, 1, 2), QColor(Qt::white));

    const QImage image = grid.grab().toImage();
    const QRect stretched = grid.visualRect(grid.model()->index(2, 1));
    const QRect clipped = grid.visualRect(grid.model()->index(2, 2));
    const QPoint inside(20, 20); // beyond the 4-pixel picture
    QCOMPARE(image.pixelColor(grid.viewport()->mapTo(&grid, stretched.topLeft() + inside)), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(grid.viewport()->mapTo(&grid, clipped.topLeft() + inside)), QColor(Qt::white));

    QHeaderView* header = grid.horizontalHeader();
    const QPoint inHeader(header->sectionViewportPosition(1) + 2, 2);
    QCOMPARE(image.pixelColor(header->viewport()->mapTo(&grid, inHeader)), QColor(Qt::yellow));
    const QPoint belowRows(5, grid.viewport()->height() - 3);
    QCOMPARE(image.pixelColor(grid.viewport()->mapTo(&grid, belowRows)), QColor(Qt::darkGray));
}

void TestGrid::multiLineTextShowsTwoLines() {
    Grid grid;
    grid.resize(500, 400);
    fill(grid, {QStringLiteral("Counter 1"), QStringLiteral("Counter 1\r\nRoom 4")});
    grid.setColWidth(1, 3000);
    grid.setRowHeightMin(1200);
    grid.setHighlight(Grid::Highlight::Never);
    grid.setBackColor(Qt::white);
    grid.setForeColor(Qt::black);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    QCOMPARE(grid.textMatrix(2, 1), QStringLiteral("Counter 1\r\nRoom 4"));
    const int oneLine = inkHeight(grid, 1, 1, Qt::black);
    const int twoLines = inkHeight(grid, 2, 1, Qt::black);
    QVERIFY(oneLine > 0);
    QVERIFY2(twoLines > grid.fontMetrics().height(), qPrintable(QString::number(twoLines)));
}

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
