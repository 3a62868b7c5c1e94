#pragma once

// For tests that link the grid: touch a row of a Grid as a finger would.
#include "widgets/Grid.h"

#include <QTest>

namespace tallyvo::test {

// Clicks the first row whose column `col` reads `text`; false when no row does.
inline bool touchRow(Grid* grid, const QString& text, int col = 1)
{
    for (int r = Grid::fixedRows(); r < grid->rows(); ++r) {
        if (grid->textMatrix(r, col) != text)
            continue;
        const QModelIndex index = grid->model()->index(r - Grid::fixedRows(), col);
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        return true;
    }
    return false;
}

} // namespace tallyvo::test
