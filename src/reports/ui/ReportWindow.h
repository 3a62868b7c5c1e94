#pragma once

#include "reports/Report.h"

#include <QWidget>
#include <memory>

namespace Ui {
class ReportWindow;
}

class QComboBox;
class QPushButton;
class QTimer;

namespace tallyvo {

class Clock;
class Connection;
class Grid;
class Prompt;
class ReportGridRows;
struct Session;

// The empty report grid: 11 columns with their widths and headers, the header row only.
void layOutReportGrid(Grid& fg);
// Gives a report grid laid out so the rows of a report, the key in column 0 and the place from 1
// in "SN". The grid keeps the report's own rows and makes a cell's text when it is shown, read or
// exported, so a year of tokens costs what the report costs, not a string per cell.
void fillReportGrid(Grid& fg, ReportResult result);
// The report whose rows a grid shows, nullptr when it holds cells of its own.
const ReportResult* reportOfGrid(const Grid& fg);
// "Average Time : " and the mean of a report grid's Duration column ("" when it has no rows).
QString gridAverage(const Grid& fg);

// A token report: a filter (a name or "All"), a range of days, "Show All", and the 11-column grid
// of tokens with the average service time under it. The four report windows and the clear-data
// window are this window with another filter and caption.
//
// Every change of the filter, either date or "Show All", and "Show", fills the grid again: typing
// in the filter and changing a date once the user pauses, the others at once. A refused query is
// told once, not again on each fill that meets the same refusal ("Show" tells it again). When
// the window is activated it becomes the session's currentReportWindow, the one whose grid
// "Send to Excel" exports.
//
// A range of more than a few days is read in the background in parts, in the order of the days:
// the grid shows the first days at once and grows while the rest is read, and the window stays
// usable. The average line comes when the last part is in; a new fill stops the one under way.
class ReportWindow : public QWidget {
    Q_OBJECT
public:
    ~ReportWindow() override;

    ReportKind kind() const { return m_kind; }
    Grid* grid() const;

    // Lays out the empty grid: 11 columns, the header row only.
    void setFG();
    // Runs the report for the current choices and fills the grid and the average line. A query
    // the database refuses leaves the header row and shows the database's text.
    void addFG();
    // Waits for a fill under way to read its last part, so the grid holds the whole report.
    void finishFill();
    // True while a fill reads in the background.
    bool filling() const { return m_fill != nullptr; }
    // The average line from the grid's Duration column; emptied when there are no rows.
    void getAvg();
    // Fills the filter list: the active names and "All", sorted.
    void addDept();
    // "Show": fills at once, and tells a refusal even when it was told before.
    void show_Click();
    // True while a fill waits for the user to pause typing.
    bool refillPending() const;
    // How many times the grid was filled, for tests of the refill rules.
    int fillCount() const { return m_fillCount; }

    // The choices as the report reads them.
    ReportRequest request() const;

protected:
    ReportWindow(ReportKind kind, Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                 QWidget* parent);

    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // Where the bottom panel's buttons go for a window this wide, in twips from the left.
    virtual void placeButtons(int widthTwips);
    int twipsToX(int twips) const;
    int xToTwips(int pixels) const;
    QWidget* bottomPanel() const;
    QPushButton* closeButton() const;

    Connection& m_connection;
    Session& m_session;
    const Clock& m_clock;
    Prompt& m_prompt;

private:
    void refillSoon();
    // Shows the parts of the background fill read so far (all of them with wait).
    void takeParts(bool wait);
    // Tells a refusal unless the same one was told last.
    void tellFailure(const QString& error);
    void showAverage(const ReportRequest& request);

    std::unique_ptr<Ui::ReportWindow> m_ui;
    ReportKind m_kind;
    QTimer* m_refill;
    int m_fillCount = 0;
    QString m_shownFailure; // the refusal last told, so the next fill does not tell it again
    // The fill reading in the background, and the rows it fills.
    std::unique_ptr<ReportFill> m_fill;
    std::shared_ptr<ReportGridRows> m_filling;
    ReportRequest m_fillRequest;
};

// "Report-Department Based": tokens by department.
class frmReport : public ReportWindow {
    Q_OBJECT
public:
    frmReport(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
              QWidget* parent = nullptr);
};

// "Report Service Based": tokens by service.
class frmRptServ : public ReportWindow {
    Q_OBJECT
public:
    frmRptServ(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
               QWidget* parent = nullptr);
};

// "Report-Counter Based": tokens called by an existing counter, by counter.
class frmRptCounter : public ReportWindow {
    Q_OBJECT
public:
    frmRptCounter(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                  QWidget* parent = nullptr);
};

// "Pending Reports": waiting tokens by service; opens with today's waiting tokens of all services.
class frmPending : public ReportWindow {
    Q_OBJECT
public:
    frmPending(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
               QWidget* parent = nullptr);
};

} // namespace tallyvo
