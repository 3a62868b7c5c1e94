#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

class QPainter;
class QPaintDevice;

namespace tallyvo {

class SettingsStore;

// What one paper ticket says, gathered before the printer is touched.
struct TicketText {
    QString company1;    // company name
    QString company2;    // company address
    QString printedAt;   // date and time, already formatted
    QString serviceName;
    QString label;       // the token label, e.g. "A7"
    QString nowServing;  // label the service called last today, "" when none
    QString description; // the service description
};

// One printed line. The text starts at a column counted in the average character width of the
// line's own font (column 1 is the left edge), the way ticket printers lay out their text.
struct TicketLine {
    qreal pointSize = 10;
    bool bold = false;
    int column = 1;
    QString text;
};

// The seventeen lines of a ticket, top to bottom. Bold starts at the token line and stays on.
QVector<TicketLine> ticketLines(const TicketText& ticket);

// Paints the lines in Arial from the top left of the device's printable area; each line advances
// by its own font's height. Returns the height used, in device pixels.
qreal paintTicket(QPainter& painter, const QVector<TicketLine>& lines);

// Prints tickets with QPrinter, each call its own print job. The printer is the installed one
// whose name equals setting printer/name; when that is empty or matches nothing, the default
// printer. Tests (and a station without a printer that wants files) send the jobs to PDF files.
class TicketPrint {
public:
    explicit TicketPrint(const SettingsStore& settings);

    // The printer a job goes to: the installed printer named `wanted`, else `defaultPrinter`.
    // "" when nothing is installed.
    static QString choosePrinter(const QString& wanted, const QStringList& installed,
                                 const QString& defaultPrinter);

    // Replaces the system's printer list (tests: a site with printers, without CUPS).
    void setInstalledPrinters(const QStringList& installed, const QString& defaultPrinter);
    // Every job after this goes to its own PDF file in `folder` (ticket-0001.pdf, ...) instead of
    // the printer; the chosen printer is still recorded. "" goes back to real printing.
    void setPdfFolder(const QString& folder);

    // The printer the next job would go to.
    QString printerName() const;

    // Prints one ticket as one job. On failure returns false and says why in *error.
    bool print(const TicketText& ticket, QString* error = nullptr);

    struct Job {
        QString printer; // the printer chosen for it
        QString file;    // its PDF file when printing to files
        QString label;
    };
    // Every job this object sent, in order.
    const QVector<Job>& jobs() const { return m_jobs; }

private:
    QStringList installedPrinters() const;
    QString defaultPrinter() const;

    const SettingsStore& m_settings;
    std::optional<QStringList> m_installed;
    QString m_default;
    QString m_pdfFolder;
    QVector<Job> m_jobs;
};

} // namespace tallyvo
