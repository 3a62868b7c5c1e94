#include "widgets/GridHeader.h"

#include "widgets/Grid.h"

#include <QMouseEvent>
#include <QPainter>

namespace tallyvo {

GridHeader::GridHeader(Grid* grid)
    : QHeaderView(Qt::Horizontal, grid)
    , m_grid(grid) {
    setSectionsClickable(false);
    setSectionsMovable(false);
    setHighlightSections(false);
    setMinimumSectionSize(0);
    setSectionResizeMode(QHeaderView::Fixed);
    setStretchLastSection(false);
}

void GridHeader::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    for (int col = 0; col < count(); ++col) {
        const QRect rect(sectionViewportPosition(col), 0, sectionSize(col), viewport()->height());
        if (rect.intersects(event->rect()))
            m_grid->paintCell(&painter, rect, 0, col);
    }
    const int end = length() - offset();
    if (end < viewport()->width())
        painter.fillRect(QRect(end, 0, viewport()->width() - end, viewport()->height()),
                         m_grid->backColorBkg());
}

void GridHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int col = logicalIndexAt(event->position().toPoint());
    if (col >= 0)
        m_grid->pressCell(0, col, false);
}

// Users neither resize nor reorder the columns, so a drag over the header does nothing.
void GridHeader::mouseMoveEvent(QMouseEvent*) {}

void GridHeader::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_grid->releaseCell(logicalIndexAt(event->position().toPoint()) >= 0 ? 0 : -1);
}

void GridHeader::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int col = logicalIndexAt(event->position().toPoint());
    if (col >= 0)
        m_grid->doubleClickCell(0, col);
}

} // namespace tallyvo
