#pragma once

#include <QHeaderView>

namespace tallyvo {

class Grid;

// Row 0 of the grid, kept in place above the scrolling rows and drawn like any other cell.
// Clicks on it reach the grid as clicks on row 0.
class GridHeader final : public QHeaderView {
public:
    explicit GridHeader(Grid* grid);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    Grid* m_grid;
};

} // namespace tallyvo
