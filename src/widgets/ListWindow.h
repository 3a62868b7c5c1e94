#pragma once

#include "widgets/RecordWindow.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace Ui {
class ListWindow;
}

namespace tallyvo {

class Grid;
class Prompt;


// One column of a list window after the key and "SN" columns: width in twips and header text.
struct ListColumn {
    int twips = 1000;
    QString header;
};

// The list half of a list/record window pair: a grid FG over the window's records and a button
// panel at the bottom. Column 0 holds each record's key, 1 twip wide so it is present but not
// visible; column 1 ("SN") counts the records from 1 in the order the query gives them; the
// window's own columns follow, and a last column without header or content widens the grid.
//
// The grid is filled when the window is first shown and, unless told otherwise, again each time
// it becomes the active window (or the active child of the main window's area), which is how it
// shows what a record window has just saved or a delete has removed. Double-click (or Enter) on
// a row edits that record; a row without a key does nothing.
//
// A window built on this supplies records(), the record window it edits with, and its delete
// rule. Buttons are added by the window in panel order; the usual Add / Delete / Close trio is
// one call.
class ListWindow : public QWidget {
    Q_OBJECT
public:
    enum class Refill { OnActivation, OnlyWhenAsked };
    enum class GridSize { FollowsWindow, AsDesigned };

    ListWindow(Prompt& prompt, QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~ListWindow() override;

    Grid* grid() const;

    // Lays the grid out: one header row, key column, "SN" (snTwips wide), then columns; the last
    // entry of columns is the widening column (its header is ignored). A width of -1 is the
    // grid's default.
    void setColumns(const QList<ListColumn>& columns, int snTwips = 1000);
    void setRefill(Refill refill) { m_refill = refill; }
    // AsDesigned keeps the grid at the given size in twips, whatever the window's size.
    void setGridSize(GridSize size, int widthTwips = 0, int heightTwips = 0);

    // A button at the right end of the panel.
    QPushButton* addButton(const QString& objectName, const QString& caption);
    // "Add" (Command3), "Delete" (Command2) and "Close" (Command1), wired to add, delete, close.
    void addStandardButtons();

    // Empties the grid to its header row and writes the headers.
    void setFG();
    // setFG, then one row per record. A refused query leaves the header row alone and says why
    // in the panel, not in a box: a box over a list that refills on activation would come back
    // each time it is dismissed.
    void addFG();
    // How many times the grid was filled, for tests of the refill rules.
    int fillCount() const { return m_fillCount; }
    // The text in the panel after a failed fill ("" after a good one).
    QString fillError() const;

    // Column 0 of the selected row; "" for the header row or a row without a key.
    QString selectedKey() const;

    // "Add": the record window, as it is if it is open, otherwise empty.
    void addRecord();
    // Double-click: the selected record in the record window; nothing without a key.
    void editSelected();
    // "Delete": "Please select an entry" without a key, else the window's delete rule.
    void deleteSelected();

    // "Close": the window, or its frame when it is a child of the main window's area.
    void closeWindow();

    // The record window while it is open; one left open when the list closed is no longer the
    // list's.
    RecordWindow* recordWindow() const { return m_record; }

protected:
    // The records in the order to list them: each the key, then one text per window column
    // (without "SN" and without the widening column); values after those are not shown but reach
    // rowFilled(). Throws DbError when the query is refused.
    virtual std::vector<QStringList> records() = 0;
    // A new record window. It is handed to the main window (to no window when the list has no
    // parent), so it stays open when the list closes and saves on its own; the list refills
    // itself when it saves while the list is open.
    virtual RecordWindow* makeRecordWindow() = 0;
    // After a record's row is written: a window may mark the row (colours, fonts) here.
    virtual void rowFilled(int row, const QStringList& record)
    {
        Q_UNUSED(row);
        Q_UNUSED(record);
    }
    // The delete rule for a selected key: questions, in-use checks and the delete itself.
    virtual void deleteRecord(const QString& key) = 0;
    // What the window does once, before its first fill (connecting, for instance).
    virtual void load() {}

    Prompt& prompt() const { return m_prompt; }
    // The record window, made if it is not open.
    RecordWindow* openRecordWindow();

    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void activated();
    void watchSubWindow();

    std::unique_ptr<Ui::ListWindow> m_ui;
    Prompt& m_prompt;
    QList<ListColumn> m_columns;
    int m_snTwips = 1000;
    Refill m_refill = Refill::OnActivation;
    bool m_loaded = false;
    int m_fillCount = 0;
    QPointer<QWidget> m_watched;
    QPointer<RecordWindow> m_record;
};

} // namespace tallyvo
