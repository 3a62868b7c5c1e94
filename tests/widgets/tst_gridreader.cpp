#include "widgets/Grid.h"

#include <QAccessible>
#include <QHash>
#include <QHeaderView>
#include <QTest>

using namespace tallyvo;

namespace {

// What a screen reader knows of a table: the name it read of each cell object, kept until the
// program says that name changed, as AT-SPI clients keep them.
class ScreenReader {
public:
    ScreenReader() {
        s_reader = this;
        m_previous = QAccessible::installUpdateHandler(&ScreenReader::notified);
    }
    ~ScreenReader() {
        QAccessible::installUpdateHandler(m_previous);
        s_reader = nullptr;
    }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // Every cell as "row,col=text", the header row first, through the accessible table only.
    QStringList read(Grid& grid) {
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&grid);
        QAccessibleTableInterface* cells = table->tableInterface();
        QStringList out;
        int col = 0;
        for (int i = 0; i < table->childCount() && col < cells->columnCount(); ++i) {
            QAccessibleInterface* child = table->child(i);
            if (child && child->role() == QAccessible::ColumnHeader)
                out << QStringLiteral("0,%1=%2").arg(col++).arg(heard(child));
        }
        for (int row = 0; row < cells->rowCount(); ++row) {
            for (int c = 0; c < cells->columnCount(); ++c)
                out << QStringLiteral("%1,%2=%3").arg(row + 1).arg(c).arg(heard(cells->cellAt(row, c)));
        }
        return out;
    }
    int namesChanged = 0;

private:
    QString heard(QAccessibleInterface* cell) {
        const QAccessible::Id id = QAccessible::uniqueId(cell);
        const auto it = m_heard.constFind(id);
        return it != m_heard.constEnd() ? *it : *m_heard.insert(id, cell->text(QAccessible::Name));
    }
    static void notified(QAccessibleEvent* event) {
        if (s_reader && event->type() == QAccessible::NameChanged) {
            ++s_reader->namesChanged;
            s_reader->m_heard.remove(event->uniqueId());
        }
    }

    static inline ScreenReader* s_reader = nullptr;
    QAccessible::UpdateHandler m_previous = nullptr;
    QHash<QAccessible::Id, QString> m_heard;
};

// The grid's own cells, as ScreenReader::read gives them.
QStringList cells(const Grid& grid) {
    QStringList out;
    for (int row = 0; row < grid.rows(); ++row) {
        for (int col = 0; col < grid.cols(); ++col)
            out << QStringLiteral("%1,%2=%3").arg(row).arg(col).arg(grid.textMatrix(row, col));
    }
    return out;
}

// "D<fill>-<row>" in every cell of column 1, the row's number in the key column.
class NumberedRows final : public GridRowSource {
public:
    NumberedRows(int rows, int fill)
        : m_rows(rows)
        , m_fill(fill) {}
    int rowCount() const override { return m_rows; }
    void grow(int rows) { m_rows += rows; }
    QString text(int row, int col) const override {
        if (col == 0)
            return QString::number(row + 1);
        return col == 1 ? QStringLiteral("D%1-%2").arg(m_fill).arg(row + 1) : QString();
    }

private:
    int m_rows;
    int m_fill;
};

} // namespace

class TestGridReader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void screenReaderHearsEveryChange();
};

void TestGridReader::initTestCase() {
    // The bridge switches on once it has found the accessibility bus.
    QTRY_VERIFY2_WITH_TIMEOUT(QAccessible::isActive(), "no accessibility bus: run through a11y-session.sh", 15000);
}

void TestGridReader::screenReaderHearsEveryChange() {
    Grid grid;
    grid.resize(400, 300);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    ScreenReader reader;
    const auto heardAsShown = [&] {
        const QStringList heard = reader.read(grid);
        const QStringList shown = cells(grid);
        if (heard == shown)
            return true;
        qWarning("heard: %s\nshown: %s", qPrintable(heard.join(QLatin1String(" | "))),
                 qPrintable(shown.join(QLatin1String(" | "))));
        return false;
    };

    // A list filled row by row as the windows fill theirs, read, then changed cell by cell as the
    // display's token table is at each call: the newest on top, the others one row down.
    grid.setCols(3);
    grid.setTextMatrix(0, 1, QStringLiteral("Name"));
    grid.setRows(1);
    for (int n = 1; n <= 3; ++n) {
        grid.setRows(n + 1);
        grid.setTextMatrix(n, 0, QString::number(n * 10));
        grid.setTextMatrix(n, 1, QStringLiteral("A%1").arg(n));
    }
    QVERIFY(heardAsShown());
    for (int call = 4; call <= 7; ++call) {
        for (int row = grid.rows() - 1; row > 1; --row)
            grid.setTextMatrix(row, 1, grid.textMatrix(row - 1, 1));
        grid.setTextMatrix(1, 1, QStringLiteral("A%1").arg(call));
        grid.setTextMatrix(1, 2, QStringLiteral("Room %1").arg(call));
        QVERIFY2(heardAsShown(), qPrintable(QStringLiteral("call %1").arg(call)));
    }
    grid.setTextMatrix(0, 1, QStringLiteral("Token"));
    QVERIFY(heardAsShown());

    // Rows and columns coming and going.
    grid.setCols(4);
    grid.setTextMatrix(2, 3, QStringLiteral("new column"));
    QVERIFY(heardAsShown());
    grid.setRows(2);
    grid.setCols(3);
    QVERIFY(heardAsShown());
    grid.setRows(4);
    grid.setTextMatrix(3, 1, QStringLiteral("new row"));
    QVERIFY(heardAsShown());

    // A refill in one batch, then new texts in place: small, and big enough to be announced as a
    // whole table rather than cell by cell.
    for (const int rows : {6, 600}) {
        {
            const Grid::Batch batch(grid);
            grid.setRows(1);
            grid.setRows(rows + 1);
            grid.setTextMatrix(0, 2, QStringLiteral("Counter %1").arg(rows));
            for (int row = 1; row <= rows; ++row) {
                grid.setTextMatrix(row, 0, QString::number(row));
                grid.setTextMatrix(row, 1, QStringLiteral("B%1").arg(row));
            }
        }
        QVERIFY2(heardAsShown(), qPrintable(QString::number(rows)));
        {
            const Grid::Batch batch(grid);
            for (int row = 1; row <= rows; ++row)
                grid.setTextMatrix(row, 1, QStringLiteral("C%1").arg(row));
        }
        QVERIFY2(heardAsShown(), qPrintable(QString::number(rows)));
    }

    // Rows given by a source, as the report windows show theirs, one fill after another; then a
    // text of one cell's own over the source's.
    for (const int rows : {5, 800}) {
        grid.setRows(1);
        grid.setRowSource(std::make_shared<NumberedRows>(rows, rows));
        QVERIFY2(heardAsShown(), qPrintable(QStringLiteral("source of %1").arg(rows)));
    }
    grid.setTextMatrix(2, 1, QStringLiteral("own"));
    QVERIFY(heardAsShown());

    // A source growing at the end, as a long report shows its days while it reads the rest: the
    // new rows are heard, the rows already heard keep their place.
    grid.setRows(1);
    const auto growing = std::make_shared<NumberedRows>(3, 9);
    grid.setRowSource(growing);
    QVERIFY(heardAsShown());
    for (const int more : {2, 400}) {
        growing->grow(more);
        grid.rowSourceGrew();
        QCOMPARE(grid.rows(), 1 + growing->rowCount());
        QCOMPARE(grid.verticalHeader()->count(), growing->rowCount()); // the view was told
        QVERIFY2(heardAsShown(), qPrintable(QStringLiteral("grown by %1").arg(more)));
    }

    // A change of look alone (the display's blinking top row) is no new name to announce.
    reader.namesChanged = 0;
    grid.setCellFontBold(1, 1, true);
    grid.setCellBackColor(1, 2, Qt::yellow);
    QCOMPARE(reader.namesChanged, 0);
}

QTEST_MAIN(TestGridReader)
#include "tst_gridreader.moc"
