#pragma once

#include "tokens/TicketText.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

class QPainter;
class QPaintDevice;

namespace tallyvo {

class SettingsStore;

// Paints the lines in Arial from the top left of the device's printable area; each line advances
// by its own font's height. A QR code line is a square of black modules on white, centred, moved
// whole to a new page when it would not fit. A line longer than the printable width, or holding line breaks, goes
// on below from its own column (wrapTicketText); on a printer, lines past the page's end go on
// a new page. Returns the height used on the last page, in device pixels.
qreal paintTicket(QPainter& painter, const QVector<TicketLine>& lines);

// Prints tickets, each call its own print job. A printer setting (printer/name) in the escpos:
// scheme names a thermal printer reached directly (EscPosPrinter), sized by setting
// printer/width. Tickets carry the station's web address (web/address) and with it the QR code
// of the token's page. Any other name is a system printer, through QPrinter: the installed one whose
// name equals the setting; when that is empty or matches nothing, the default printer. Tests
// (and a station without a printer that wants files) send system printer jobs to PDF files.
class TicketPrint {
public:
    explicit TicketPrint(const SettingsStore& settings);

    // The printer a job goes to: the installed printer named `wanted`, else `defaultPrinter`.
    // "" when nothing is installed.
    static QString choosePrinter(const QString& wanted, const QStringList& installed,
                                 const QString& defaultPrinter);

    // Replaces the system's printer list (tests: a site with printers, without CUPS).
    void setInstalledPrinters(const QStringList& installed, const QString& defaultPrinter);
    // Every system printer job after this goes to its own PDF file in `folder` (ticket-0001.pdf,
    // ...) instead of the printer; the chosen printer is still recorded. "" goes back to real
    // printing. Thermal printers named in the escpos: scheme are always sent to.
    void setPdfFolder(const QString& folder);

    // How long a thermal printer may take to accept a ticket.
    void setEscPosTimeout(int ms) { m_escPosTimeout = ms; }

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
    TicketText withWebAddress(const TicketText& ticket) const;
    bool printEscPos(const Job& job, const TicketText& ticket, QString* error);
    QStringList installedPrinters() const;
    QString defaultPrinter() const;

    const SettingsStore& m_settings;
    std::optional<QStringList> m_installed;
    QString m_default;
    QString m_pdfFolder;
    QVector<Job> m_jobs;
    int m_escPosTimeout;
    // The thermal printer that last did not answer, and for which ticket: its other copies fail
    // at once instead of each waiting out the time again.
    QString m_silentPrinter;
    QString m_silentLabel;
    QString m_silentError;
};

} // namespace tallyvo
