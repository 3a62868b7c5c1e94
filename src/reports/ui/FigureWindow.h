#pragma once

#include "reports/SheetGrid.h"
#include "reports/ui/GridExport.h"
#include "stats/QueueFigures.h"

#include <QWidget>

class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;

namespace tallyvo {

class Clock;
class Connection;
class Grid;
class Prompt;
struct Session;

// "Waiting Times", "Service Levels", "Hourly Load" and "Counter Productivity": a filter (what it
// names, a service, a department or a counter, is chosen beside it: a service by default, a
// counter for the productivity window; "All" for everything) and a range of days, the figures'
// grid and their chart. "Send to Excel" (here or in the main window's menu) writes
// the grid and the same chart, as the spreadsheet's own, into a new workbook.
class FigureWindow : public QWidget, public modExcel::SheetSource {
    Q_OBJECT
public:
    FigureWindow(FigureKind kind, Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                 QWidget* parent = nullptr);
    ~FigureWindow() override;

    FigureKind kind() const { return m_kind; }
    Grid* grid() const { return m_grid; }
    QChartView* chartView() const { return m_chartView; }
    const FigureTable& table() const { return m_table; }
    FigureRequest request() const;

    // Counts the figures for the current choices and shows them; a refusal of the database is
    // told and leaves the header only.
    void addFG();
    // Fills the filter list: the active names of what the filter names and "All", sorted.
    void addFilter();
    // Makes the filter name services, departments or counters, from "All".
    void setScope(FigureRequest::Scope scope);
    SheetGrid sheet() const override;
    QString sendToExcel(const modExcel::Opener& open = modExcel::desktopOpener());

protected:
    bool event(QEvent* event) override;

private:
    void showTable();
    void showChart();

    FigureKind m_kind;
    Connection& m_connection;
    Session& m_session;
    const Clock& m_clock;
    Prompt& m_prompt;
    QComboBox* m_scope;
    QLabel* m_filterLabel;
    QComboBox* m_filter;
    QDateEdit* m_from;
    QDateEdit* m_to;
    Grid* m_grid;
    QChartView* m_chartView;
    QLabel* m_summary;
    FigureTable m_table;
};

} // namespace tallyvo
