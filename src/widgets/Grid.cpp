#include "widgets/Grid.h"

#include "widgets/GridHeader.h"
#include "widgets/Twips.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QWindow>

#include <functional>
#include <utility>

namespace tallyvo {

namespace {

constexpr int kDefaultColPixels = 64;
constexpr int kTextPadding = 3;

bool isNumberText(const QString& text) {
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

// Beyond this many changed cells the table is announced as new instead of cell by cell: naming
// each would make an accessible object for every cell of a big report.
constexpr qint64 kCellsAnnouncedOneByOne = 1000;

// The column header cell of the view's accessible table: its first children, after a corner
// button when the table has a row header.
QAccessibleInterface* headerCell(QAccessibleInterface* table, int col) {
    QAccessibleInterface* first = table->child(0);
    const int offset = first && first->role() == QAccessible::ColumnHeader ? 0 : 1;
    QAccessibleInterface* cell = table->child(col + offset);
    return cell && cell->role() == QAccessible::ColumnHeader ? cell : nullptr;
}

// Screen readers keep the text they have read of a cell and read it again only when told that it
// changed. Qt's item views tell them of rows and columns coming and going but not of new texts, so
// without this a reader goes on saying what a list held before. Rows and columns in grid
// numbering: row 0 is the header.
void announceTexts(QAbstractItemView* view, int top, int bottom, int left, int right) {
    if (!QAccessible::isActive() || top > bottom || left > right)
        return;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
    QAccessibleTableInterface* cells = table ? table->tableInterface() : nullptr;
    if (!cells)
        return;
    if (qint64(bottom - top + 1) * (right - left + 1) > kCellsAnnouncedOneByOne) {
        // The table drops every cell object it made, so each is read afresh under a new identity.
        QAccessibleTableModelChangeEvent reset(view, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&reset);
        return;
    }
    for (int row = top; row <= bottom; ++row) {
        for (int col = left; col <= right; ++col) {
            QAccessibleInterface* cell = row == 0 ? headerCell(table, col) : cells->cellAt(row - 1, col);
            if (!cell)
                continue;
            QAccessibleEvent named(cell, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&named);
        }
    }
}

} // namespace

class GridDelegate final : public QStyledItemDelegate {
public:
    explicit GridDelegate(Grid* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        m_grid->paintCell(painter, option.rect, index.row() + 1, index.column());
    }

private:
    Grid* m_grid;
};

Grid::Grid(QWidget* parent)
    : QTableView(parent)
    , m_model(new GridModel(this))
    , m_header(new GridHeader(this)) {
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false); // lines are drawn per cell, in the fixed or normal grid colour
    setWordWrap(false);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(ContiguousSelection);
    setDragEnabled(false);
    setAutoScroll(false); // code that sets the current row must not move the view
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);

    connect(m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                    announceTexts(this, topLeft.row() + 1, bottomRight.row() + 1, topLeft.column(),
                                  bottomRight.column());
            });
    connect(m_model, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation, int first, int last) {
                if (orientation == Qt::Horizontal)
                    announceTexts(this, 0, 0, first, last);
            });

    setRows(2);
    setCols(2);
    applySizes();
}

Grid::~Grid() = default;

// ---- shape and text ----------------------------------------------------------------------

int Grid::rows() const {
    return m_model->gridRows();
}

void Grid::setRows(int rows) {
    rows = qMax(fixedRows(), rows);
    if (rows == m_model->gridRows())
        return;
    m_model->setGridRows(rows);
    m_rowTwips.resize(size_t(rows), -1);
    m_mergeRow.resize(size_t(rows), false);
    if (m_pressRow >= rows)
        m_pressRow = -1;
    if (m_row >= rows || m_rowSel >= rows) {
        m_row = qMin(m_row, rows - 1);
        m_rowSel = qMin(m_rowSel, rows - 1);
        syncSelection();
    }
}

int Grid::cols() const {
    return m_model->gridCols();
}

void Grid::setCols(int cols) {
    cols = qMax(fixedCols(), cols);
    if (cols == m_model->gridCols())
        return;
    m_model->setGridCols(cols);
    m_colTwips.resize(size_t(cols), -1);
    m_colAlignment.resize(size_t(cols));
    m_mergeCol.resize(size_t(cols), false);
    m_col = qMin(m_col, cols - 1);
    syncSelection(); // a selected row spans the new columns too
}

void Grid::setRowSource(std::shared_ptr<const GridRowSource> source) {
    m_model->setRowSource(std::move(source));
    const int rows = m_model->gridRows();
    m_rowTwips.resize(1);
    m_rowTwips.resize(size_t(rows), -1);
    m_mergeRow.resize(1);
    m_mergeRow.resize(size_t(rows), false);
    m_pressRow = -1;
    m_row = qMin(m_row, rows - 1);
    m_rowSel = qMin(m_rowSel, rows - 1);
    applySizes(); // the reset forgot the header views' sections
    syncSelection();
}

void Grid::rowSourceGrew() {
    m_model->sourceGrew();
    const int rows = m_model->gridRows();
    m_rowTwips.resize(size_t(rows), -1);
    m_mergeRow.resize(size_t(rows), false);
}

const std::shared_ptr<const GridRowSource>& Grid::rowSource() const {
    return m_model->rowSource();
}

QString Grid::textMatrix(int row, int col) const {
    return m_model->text(row, col);
}

void Grid::setTextMatrix(int row, int col, const QString& text) {
    m_model->setText(row, col, text);
}

Grid::Batch::Batch(Grid& grid)
    : m_grid(grid) {
    m_grid.m_model->beginBatch();
}

Grid::Batch::~Batch() {
    m_grid.m_model->endBatch();
}

// ---- sizes -------------------------------------------------------------------------------

qreal Grid::dpiX() const {
    return logicalDpiX();
}
qreal Grid::dpiY() const {
    return logicalDpiY();
}

int Grid::defaultRowHeightPixels() const {
    return fontMetrics().height() + 4;
}

int Grid::rowHeightPixels(int row) const {
    const int twips = m_rowTwips[size_t(row)];
    const int pixels = twips < 0 ? defaultRowHeightPixels() : twipsToPixels(twips, dpiY());
    return qMax(pixels, twipsToPixels(m_rowHeightMinTwips, dpiY()));
}

int Grid::colWidthPixels(int col) const {
    const int twips = m_colTwips[size_t(col)];
    return twips < 0 ? kDefaultColPixels : twipsToPixels(twips, dpiX());
}

int Grid::colWidth(int col) const {
    if (col < 0 || col >= cols())
        return 0;
    const int twips = m_colTwips[size_t(col)];
    return twips < 0 ? pixelsToTwips(kDefaultColPixels, dpiX()) : twips;
}

void Grid::setColWidth(int col, int twips) {
    if (col < 0 || col >= cols())
        return;
    m_colTwips[size_t(col)] = qMax(-1, twips);
    applyColWidth(col);
}

int Grid::rowHeight(int row) const {
    if (row < 0 || row >= rows())
        return 0;
    const int twips = m_rowTwips[size_t(row)];
    const int own = twips < 0 ? pixelsToTwips(defaultRowHeightPixels(), dpiY()) : twips;
    return qMax(own, m_rowHeightMinTwips);
}

void Grid::setRowHeight(int row, int twips) {
    if (row < 0 || row >= rows())
        return;
    m_rowTwips[size_t(row)] = qMax(-1, twips);
    applyRowHeight(row);
}

int Grid::rowHeightMin() const {
    return m_rowHeightMinTwips;
}

void Grid::setRowHeightMin(int twips) {
    m_rowHeightMinTwips = qMax(0, twips);
    applySizes();
}

void Grid::applyRowHeight(int row) {
    if (row == 0) {
        m_header->setFixedHeight(rowHeightPixels(0));
        updateGeometries();
    } else {
        verticalHeader()->resizeSection(row - 1, rowHeightPixels(row));
    }
}

void Grid::applyColWidth(int col) {
    horizontalHeader()->resizeSection(col, colWidthPixels(col));
}

// Rows and columns without a size of their own follow the header views' default section size,
// so a fill that adds thousands of rows sets no size per row.
void Grid::applySizes() {
    m_appliedDpiX = dpiX();
    m_appliedDpiY = dpiY();
    const int minPixels = twipsToPixels(m_rowHeightMinTwips, dpiY());
    verticalHeader()->setDefaultSectionSize(qMax(defaultRowHeightPixels(), minPixels));
    horizontalHeader()->setDefaultSectionSize(kDefaultColPixels);
    for (int row = 0; row < rows(); ++row) {
        if (row == 0 || m_rowTwips[size_t(row)] >= 0)
            applyRowHeight(row);
    }
    for (int col = 0; col < cols(); ++col) {
        if (m_colTwips[size_t(col)] >= 0)
            applyColWidth(col);
    }
    updateGeometries();
}

void Grid::watchScreen() {
    QWindow* window = this->window()->windowHandle();
    if (!window || window == m_watchedWindow)
        return;
    if (m_watchedWindow)
        disconnect(m_watchedWindow, nullptr, this, nullptr);
    m_watchedWindow = window;
    connect(window, &QWindow::screenChanged, this, [this] {
        if (dpiX() != m_appliedDpiX || dpiY() != m_appliedDpiY)
            applySizes();
    });
}

void Grid::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    watchScreen();
    if (dpiX() != m_appliedDpiX || dpiY() != m_appliedDpiY)
        applySizes();
}

void Grid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        applySizes();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        lookChanged();
}

// ---- current cell and selection ----------------------------------------------------------

int Grid::row() const {
    return m_row;
}

void Grid::setRow(int row) {
    if (row >= 0 && row < rows())
        setCurrentCell(row, m_col);
}

int Grid::col() const {
    return m_col;
}

void Grid::setCol(int col) {
    if (col < 0 || col >= cols() || col == m_col)
        return;
    m_col = col;
    syncSelection();
}

int Grid::selectedRow() const {
    return m_rowSel;
}

void Grid::setSelectedRow(int row) {
    if (row < 0 || row >= rows() || row == m_rowSel)
        return;
    m_rowSel = row;
    syncSelection();
}

QString Grid::selectedKey() const {
    if (m_rowSel < fixedRows())
        return {};
    return textMatrix(m_rowSel, 0).trimmed();
}

int Grid::cellWidth() const {
    return colWidth(m_col);
}
int Grid::cellHeight() const {
    return rowHeight(m_row);
}

void Grid::setCurrentCell(int row, int col) {
    if (row == m_row && row == m_rowSel && col == m_col)
        return;
    m_row = row;
    m_rowSel = row;
    m_col = col;
    syncSelection();
}

// The view's selection mirrors row()..selectedRow() so screen readers see the selected rows;
// drawing and the signals work from the grid's own values.
void Grid::syncSelection() {
    QItemSelectionModel* selection = selectionModel();
    const int top = qMax(fixedRows(), qMin(m_row, m_rowSel));
    const int bottom = qMax(m_row, m_rowSel);
    if (bottom >= fixedRows()) {
        selection->select(QItemSelection(m_model->index(top - 1, 0), m_model->index(bottom - 1, cols() - 1)),
                          QItemSelectionModel::ClearAndSelect);
        selection->setCurrentIndex(m_model->index(qMax(m_rowSel, top) - 1, m_col),
                                   QItemSelectionModel::NoUpdate);
    } else {
        selection->clearSelection();
        selection->clearCurrentIndex();
    }
    viewport()->update();
}

bool Grid::isHighlighted(int row) const {
    if (row < fixedRows() || m_highlight == Highlight::Never)
        return false;
    if (m_highlight == Highlight::WithFocus && !hasFocus())
        return false;
    return row >= qMin(m_row, m_rowSel) && row <= qMax(m_row, m_rowSel);
}

void Grid::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    syncSelection(); // the base class may have picked a current item of its own
}

void Grid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

// ---- mouse and keyboard ------------------------------------------------------------------

void Grid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    const int col = columnAt(pos.x());
    if (row < 0 || col < 0) {
        m_pressRow = -1; // the empty area: nothing is chosen there
        return;
    }
    pressCell(row + 1, col, event->modifiers().testFlag(Qt::ShiftModifier));
}

void Grid::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressRow < fixedRows() || !event->buttons().testFlag(Qt::LeftButton))
        return;
    int y = event->position().toPoint().y();
    if (y < 0) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        y = 0;
    } else if (y >= viewport()->height()) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        y = viewport()->height() - 1;
    }
    int row = rowAt(y);
    if (row < 0 && y > 0)
        row = m_model->rowCount() - 1; // dragged into the empty area below the last row
    if (row >= 0 && row + 1 != m_rowSel) {
        m_rowSel = row + 1;
        syncSelection();
    }
}

void Grid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    releaseCell(row >= 0 && columnAt(pos.x()) >= 0 ? row + 1 : -1);
}

void Grid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    const int col = columnAt(pos.x());
    if (row >= 0 && col >= 0)
        doubleClickCell(row + 1, col);
}

void Grid::pressCell(int row, int col, bool extend) {
    m_pressRow = row;
    if (extend && row >= fixedRows()) {
        m_rowSel = row;
        m_col = col;
        syncSelection();
    } else {
        setCurrentCell(row, col);
    }
}

// A press and release on the same row is a click; sliding off the row before letting go
// cancels it, as with a button.
void Grid::releaseCell(int row) {
    const int pressed = std::exchange(m_pressRow, -1);
    if (pressed >= 0 && row == pressed)
        emit clicked();
}

void Grid::doubleClickCell(int row, int col) {
    setCurrentCell(row, col);
    m_pressRow = -1; // the release that follows is not a second click
    emit doubleClicked();
}

void Grid::moveSelection(int row, bool extend) {
    const int last = rows() - 1;
    if (last < fixedRows())
        return;
    row = qBound(fixedRows(), row, last);
    if (extend && m_row >= fixedRows()) {
        m_rowSel = row;
        syncSelection();
    } else {
        setCurrentCell(row, m_col);
    }
    scrollTo(m_model->index(row - 1, m_col));
}

void Grid::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    const int rowPixels = qMax(1, verticalHeader()->defaultSectionSize());
    const int page = qMax(1, viewport()->height() / rowPixels);
    switch (event->key()) {
    case Qt::Key_Up:
        moveSelection(m_rowSel - 1, extend);
        return;
    case Qt::Key_Down:
        moveSelection(m_rowSel + 1, extend);
        return;
    case Qt::Key_PageUp:
        moveSelection(m_rowSel - page, extend);
        return;
    case Qt::Key_PageDown:
        moveSelection(m_rowSel + page, extend);
        return;
    case Qt::Key_Home:
        moveSelection(fixedRows(), extend);
        return;
    case Qt::Key_End:
        moveSelection(rows() - 1, extend);
        return;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        // Step over hidden columns such as the key column, so the view scrolls to something.
        const int step = event->key() == Qt::Key_Left ? -1 : 1;
        for (int col = m_col + step; col >= fixedCols() && col < cols(); col += step) {
            if (colWidthPixels(col) > 0) {
                setCol(col);
                scrollTo(m_model->index(qMax(m_rowSel, fixedRows()) - 1, col));
                break;
            }
        }
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_rowSel >= fixedRows()) {
            emit doubleClicked();
            return;
        }
        break;
    case Qt::Key_Space:
        if (m_rowSel >= fixedRows()) {
            emit clicked();
            return;
        }
        break;
    default:
        break;
    }
    // Anything else belongs to the window: shortcuts, hot keys, a dialog's default button.
    event->ignore();
}

// The selected rows as tab-separated text, visible columns only, so a key column stays out.
void Grid::copySelection() const {
    const int top = qMax(fixedRows(), qMin(m_row, m_rowSel));
    const int bottom = qMax(m_row, m_rowSel);
    if (bottom < top)
        return;
    QStringList lines;
    for (int row = top; row <= bottom; ++row) {
        QStringList fields;
        for (int col = 0; col < cols(); ++col) {
            if (colWidthPixels(col) <= 0)
                continue;
            QString text = textMatrix(row, col);
            text.replace(QLatin1String("\r\n"), QLatin1String(" "));
            for (QChar& ch : text) {
                if (ch == QLatin1Char('\t') || ch == QLatin1Char('\n') || ch == QLatin1Char('\r'))
                    ch = QLatin1Char(' ');
            }
            fields << text;
        }
        lines << fields.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

// ---- per-cell look -----------------------------------------------------------------------

void Grid::changeCell(int row, int col, const std::function<void(GridCell&)>& change) {
    if (GridCell* cell = m_model->editLook(row, col)) {
        change(*cell);
        m_model->cellChanged(row, col);
    }
}

QFont Grid::cellFont(const GridCell& cell) const {
    QFont font = this->font();
    if (!cell.fontName.isEmpty())
        font.setFamilies({cell.fontName});
    if (cell.fontSize > 0)
        font.setPointSizeF(cell.fontSize);
    if (cell.bold >= 0)
        font.setBold(cell.bold == 1);
    return font;
}

QString Grid::cellFontName(int row, int col) const {
    const QString name = m_model->cell(row, col).fontName;
    return name.isEmpty() ? font().family() : name;
}

void Grid::setCellFontName(int row, int col, const QString& name) {
    changeCell(row, col, [&](GridCell& cell) { cell.fontName = name.trimmed(); });
}

qreal Grid::cellFontSize(int row, int col) const {
    const qreal size = m_model->cell(row, col).fontSize;
    if (size > 0)
        return size;
    return font().pointSizeF() > 0 ? font().pointSizeF() : QFontInfo(font()).pointSizeF();
}

void Grid::setCellFontSize(int row, int col, qreal points) {
    changeCell(row, col, [&](GridCell& cell) { cell.fontSize = points > 0 ? points : 0; });
}

bool Grid::cellFontBold(int row, int col) const {
    const int bold = m_model->cell(row, col).bold;
    return bold < 0 ? font().bold() : bold == 1;
}

void Grid::setCellFontBold(int row, int col, bool bold) {
    changeCell(row, col, [&](GridCell& cell) { cell.bold = bold ? 1 : 0; });
}

QColor Grid::cellBackColor(int row, int col) const {
    return m_model->cell(row, col).back;
}

void Grid::setCellBackColor(int row, int col, const QColor& color) {
    changeCell(row, col, [&](GridCell& cell) { cell.back = color; });
}

QColor Grid::cellForeColor(int row, int col) const {
    return m_model->cell(row, col).fore;
}

void Grid::setCellForeColor(int row, int col, const QColor& color) {
    changeCell(row, col, [&](GridCell& cell) { cell.fore = color; });
}

Qt::Alignment Grid::cellAlignment(int row, int col) const {
    return m_model->cell(row, col).alignment;
}

void Grid::setCellAlignment(int row, int col, Qt::Alignment alignment) {
    changeCell(row, col, [&](GridCell& cell) { cell.alignment = alignment; });
}

QPixmap Grid::cellPicture(int row, int col) const {
    return m_model->cell(row, col).picture;
}

void Grid::setCellPicture(int row, int col, const QPixmap& picture, PictureFit fit) {
    changeCell(row, col, [&](GridCell& cell) {
        cell.picture = picture;
        cell.pictureFit = fit;
    });
}

Qt::Alignment Grid::colAlignment(int col) const {
    return col >= 0 && col < cols() ? m_colAlignment[size_t(col)] : Qt::Alignment();
}

void Grid::setColAlignment(int col, Qt::Alignment alignment) {
    if (col < 0 || col >= cols())
        return;
    m_colAlignment[size_t(col)] = alignment;
    lookChanged();
}

Qt::Alignment Grid::textAlignment(const GridCell& cell, int col) const {
    Qt::Alignment alignment = cell.alignment ? cell.alignment : colAlignment(col);
    if (!(alignment & Qt::AlignHorizontal_Mask))
        alignment |= isNumberText(cell.text) ? Qt::AlignRight : Qt::AlignLeft;
    if (!(alignment & Qt::AlignVertical_Mask))
        alignment |= Qt::AlignVCenter;
    return alignment;
}

// ---- whole-grid look ---------------------------------------------------------------------

// Colours nobody set follow the palette, so the grid matches the desktop's theme.
QColor Grid::backColor() const {
    return m_backColor.isValid() ? m_backColor : palette().color(QPalette::Base);
}
QColor Grid::backColorFixed() const {
    return m_backColorFixed.isValid() ? m_backColorFixed : palette().color(QPalette::Button);
}
QColor Grid::backColorBkg() const {
    return m_backColorBkg.isValid() ? m_backColorBkg : palette().color(QPalette::Window);
}
QColor Grid::foreColor() const {
    return m_foreColor.isValid() ? m_foreColor : palette().color(QPalette::Text);
}
QColor Grid::foreColorFixed() const {
    return m_foreColorFixed.isValid() ? m_foreColorFixed : palette().color(QPalette::ButtonText);
}
QColor Grid::gridColor() const {
    return m_gridColor.isValid() ? m_gridColor : QColor(0xC0, 0xC0, 0xC0);
}
QColor Grid::gridColorFixed() const {
    return m_gridColorFixed.isValid() ? m_gridColorFixed : QColor(0x80, 0x80, 0x80);
}

void Grid::setLookColor(QColor& slot, const QColor& color) {
    slot = color;
    lookChanged();
}

void Grid::setBackColor(const QColor& color) {
    setLookColor(m_backColor, color);
}
void Grid::setBackColorFixed(const QColor& color) {
    setLookColor(m_backColorFixed, color);
}
void Grid::setBackColorBkg(const QColor& color) {
    setLookColor(m_backColorBkg, color);
}
void Grid::setForeColor(const QColor& color) {
    setLookColor(m_foreColor, color);
}
void Grid::setForeColorFixed(const QColor& color) {
    setLookColor(m_foreColorFixed, color);
}
void Grid::setGridColor(const QColor& color) {
    setLookColor(m_gridColor, color);
}
void Grid::setGridColorFixed(const QColor& color) {
    setLookColor(m_gridColorFixed, color);
}

int Grid::gridLineWidth() const {
    return m_gridLineWidth;
}
void Grid::setGridLineWidth(int pixels) {
    m_gridLineWidth = qMax(0, pixels);
    lookChanged();
}

Grid::Highlight Grid::highlight() const {
    return m_highlight;
}
void Grid::setHighlight(Highlight highlight) {
    m_highlight = highlight;
    lookChanged();
}

bool Grid::mergeCells() const {
    return m_mergeCells;
}
void Grid::setMergeCells(bool merge) {
    m_mergeCells = merge;
}

bool Grid::mergeRow(int row) const {
    return row >= 0 && row < rows() && m_mergeRow[size_t(row)];
}
void Grid::setMergeRow(int row, bool merge) {
    if (row >= 0 && row < rows())
        m_mergeRow[size_t(row)] = merge;
}

bool Grid::mergeCol(int col) const {
    return col >= 0 && col < cols() && m_mergeCol[size_t(col)];
}
void Grid::setMergeCol(int col, bool merge) {
    if (col >= 0 && col < cols())
        m_mergeCol[size_t(col)] = merge;
}

void Grid::lookChanged() {
    viewport()->update();
    m_header->viewport()->update();
}

// ---- drawing -----------------------------------------------------------------------------

void Grid::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(viewport());
        painter.fillRect(event->rect(), backColorBkg());
    }
    QTableView::paintEvent(event);
}

void Grid::paintCell(QPainter* painter, const QRect& rect, int row, int col) const {
    if (rect.width() <= 0 || rect.height() <= 0)
        return; // the hidden key column
    const GridCell cell = m_model->cell(row, col);
    const bool fixed = row < fixedRows() || col < fixedCols();

    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    painter->fillRect(rect, cell.back.isValid() ? cell.back : fixed ? backColorFixed() : backColor());
    if (!cell.picture.isNull()) {
        if (cell.pictureFit == PictureFit::Stretch)
            painter->drawPixmap(rect, cell.picture);
        else
            painter->drawPixmap(rect.topLeft(), cell.picture);
    }
    QColor fore = cell.fore.isValid() ? cell.fore : fixed ? foreColorFixed() : foreColor();
    if (!fixed && isHighlighted(row)) {
        QColor highlight = palette().color(QPalette::Highlight);
        if (!cell.picture.isNull())
            highlight.setAlpha(128); // keep the picture recognisable under the selection
        painter->fillRect(rect, highlight);
        fore = palette().color(QPalette::HighlightedText);
    }

    QRect textRect = rect;
    if (m_gridLineWidth > 0) {
        const int line = qMin(m_gridLineWidth, qMin(rect.width(), rect.height()));
        const QColor lineColor = fixed ? gridColorFixed() : gridColor();
        painter->fillRect(QRect(rect.right() - line + 1, rect.top(), line, rect.height()), lineColor);
        painter->fillRect(QRect(rect.left(), rect.bottom() - line + 1, rect.width(), line), lineColor);
        textRect.adjust(0, 0, -line, -line);
    }

    if (!cell.text.isEmpty()) {
        textRect.adjust(kTextPadding, 0, -kTextPadding, 0);
        const QFont font = cellFont(cell);
        QString text = cell.text;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        const Qt::Alignment alignment = textAlignment(cell, col);
        int flags = alignment.toInt();
        if (wordWrap()) {
            flags |= Qt::TextWordWrap;
        } else {
            // Each line is cut with an ellipsis, so a long name shows it goes on.
            const QFontMetrics metrics(font);
            QStringList lines = text.split(QLatin1Char('\n'));
            for (QString& line : lines)
                line = metrics.elidedText(line, Qt::ElideRight, textRect.width());
            text = lines.join(QLatin1Char('\n'));
        }
        painter->setFont(font);
        painter->setPen(fore);
        painter->drawText(textRect, flags, text);
    }
    painter->restore();
}

} // namespace tallyvo
