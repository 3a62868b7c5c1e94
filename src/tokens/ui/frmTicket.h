#pragma once

#include "tokens/TicketPrinter.h"
#include "tokens/TokenIssuer.h"
#include "tokens/ui/TicketPrint.h"

#include <QDate>
#include <QPixmap>
#include <QVariantList>
#include <QWidget>

class QTimer;

#include <memory>

namespace Ui {
class frmTicket;
}

namespace tallyvo {

class Clock;
class Connection;
class Database;
class Grid;
class Prompt;
class SettingsStore;
struct Session;

// The token issuing station ("Print Ticket"): a visitor picks a department, then a service, and
// the station stores the next token of that service and prints its ticket.
//
// Construct it with the program's services; it connects (Connection::connectDb) when the program
// is not connected yet and lists the departments at once. The main window shows it with
// showAsConfigured(): full screen as a kiosk when setting Ticket/screen is not "Normal" (grid
// centred, no date box, always today), else as a normal window at the top left corner with a date
// box for issuing on another date.
//
// Copies per ticket come from Session::ticketCopies; the printer from setting printer/name, else
// the default printer. A ticket that cannot be printed is reported with its token number; the
// token stays stored. A normal station says so in a message box; a kiosk must not wait for
// someone to click one away: it shows the visitor's number large for a few seconds instead, and
// keeps a short notice for the staff until a ticket prints again.
class frmTicket : public QWidget, public TicketPrinter {
    Q_OBJECT
public:
    frmTicket(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
              Prompt& prompt, QWidget* parent = nullptr);
    ~frmTicket() override;

    // Full screen in kiosk mode, else a normal window at (0, 0).
    void showAsConfigured();
    bool isKiosk() const { return m_kiosk; }

    // 0 while the grid lists departments, 1 while it lists one department's services.
    int stage() const { return m_stage; }
    // The date the next token is issued for.
    QDate issueDate() const;

    // The printer of this station; tests send its jobs to PDF files.
    TicketPrint& printer() { return m_print; }

    // Lists the active departments.
    void addDept();
    // Lists the active services of department `deptKey`, then "<-Back".
    void addServ(int deptKey);
    // Puts the picture behind every choice; a missing file leaves the choices plain.
    void addimg(const QString& file);
    // The kiosk arrangement: grid centred, no date box.
    void makeCenter();
    // Reads the two company lines printed on every ticket.
    void getcompDet();
    // The label of the token service `serviceKey` called last today; "" when none.
    QString getNowServing(int serviceKey) const;
    // Prints one ticket as one print job; false (and lastError() says why) when it could not be
    // printed. The numbering calls it once per copy, after the token is stored.
    bool startPrint(const TicketData& ticket) override;
    QString lastError() const override { return m_printError; }

    // How long a kiosk shows the number of a visitor whose ticket did not print.
    static constexpr int kNumberShownMs = 8000;
    void setNumberShownFor(int ms) { m_numberShownMs = ms; }
    // The staff's notice of a printer that failed; "" once a ticket printed again.
    QString printerNotice() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Resets the choice grid to its header and one row per record (key, name) of the query.
    void fillChoices(const QString& header, int width, const QString& sql, const QVariantList& values = {});
    std::shared_ptr<Database> openDb() const;
    void gridClicked();
    void issue(int serviceKey, const QString& serviceName);
    void setDateToday();
    void sizeGrid();
    void placeClose();
    void showNumber(const QString& label);
    void placeNumber();

    std::unique_ptr<Ui::frmTicket> m_ui;
    Grid* m_fg;
    Connection& m_connection;
    SettingsStore& m_settings;
    Session& m_session;
    const Clock& m_clock;
    Prompt& m_prompt;
    TicketPrint m_print;

    bool m_kiosk = false;
    int m_stage = 0;
    int m_rowHeight = 500;
    QString m_company1;
    QString m_company2;
    QString m_designFile;
    QString m_printError;
    // The day the date box was last set to today: while the operator has not picked another
    // date, tokens go to the current day even when the window stayed open past midnight.
    QDate m_dateSetFor;
    bool m_busy = false;
    TokenIssuer::Pending m_pendingIssue;
    QTimer* m_numberTimer = nullptr;
    int m_numberShownMs = kNumberShownMs;
};

} // namespace tallyvo
