#include "tokens/ui/TicketPrint.h"

#include "core/SettingsStore.h"
#include "tokens/EscPos.h"
#include "tokens/EscPosPrinter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace tallyvo {

namespace {

// Characters of a line's font that must fit right of its column.
constexpr int kNarrowestColumn = 12;

} // namespace

qreal paintTicket(QPainter& painter, const QVector<TicketLine>& lines)
{
    QPaintDevice* device = painter.device();
    const qreal paper = device->width();
    auto* paged = dynamic_cast<QPagedPaintDevice*>(device);
    qreal y = 0;
    for (const TicketLine& line : lines) {
        QFont font(QStringLiteral("Arial"));
        font.setPointSizeF(line.pointSize);
        font.setBold(line.bold);
        // Measured on the device itself: a printer's resolution is not the screen's.
        const QFont deviceFont(font, device);
        const QFontMetricsF metrics(deviceFont, device);
        qreal x = (line.column - 1) * metrics.averageCharWidth();
        // On paper too narrow for the line's column to leave room for a few words, the line
        // starts at the edge rather than a word to a line.
        if (paper - x < kNarrowestColumn * metrics.averageCharWidth())
            x = 0;
        // A line too long for the paper goes on below, from the same column: cut off at the
        // edge, a company's address would lose its town.
        const QStringList parts = wrapTicketText(line.text, paper - x, [&metrics](const QString& text) {
            return metrics.horizontalAdvance(text);
        });
        painter.setFont(deviceFont);
        for (qsizetype i = 0; i < qMax<qsizetype>(1, parts.size()); ++i) {
            // Wrapped lines make a ticket longer: what no longer fits the page goes on the next
            // rather than off the paper's end.
            if (i < parts.size() && y > 0 && y + metrics.height() > device->height() && paged) {
                paged->newPage();
                y = 0;
            }
            if (i < parts.size())
                painter.drawText(QPointF(x, y + metrics.ascent()), parts.at(i));
            y += metrics.height();
        }
    }
    return y;
}

TicketPrint::TicketPrint(const SettingsStore& settings)
    : m_settings(settings)
    , m_escPosTimeout(EscPosPrinter::kDefaultTimeoutMs)
{
}

QString TicketPrint::choosePrinter(const QString& wanted, const QStringList& installed, const QString& defaultPrinter)
{
    if (!wanted.isEmpty() && installed.contains(wanted))
        return wanted;
    return defaultPrinter;
}

void TicketPrint::setInstalledPrinters(const QStringList& installed, const QString& defaultPrinter)
{
    m_installed = installed;
    m_default = defaultPrinter;
}

void TicketPrint::setPdfFolder(const QString& folder)
{
    m_pdfFolder = folder;
}

QStringList TicketPrint::installedPrinters() const
{
    return m_installed ? *m_installed : QPrinterInfo::availablePrinterNames();
}

QString TicketPrint::defaultPrinter() const
{
    return m_installed ? m_default : QPrinterInfo::defaultPrinterName();
}

QString TicketPrint::printerName() const
{
    const QString wanted = m_settings.get(Keys::PrinterName);
    if (EscPosPrinter::isEscPos(wanted))
        return wanted.trimmed();
    return choosePrinter(m_settings.get(Keys::PrinterName), installedPrinters(), defaultPrinter());
}

bool TicketPrint::print(const TicketText& ticket, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };

    Job job{printerName(), QString(), ticket.label};
    if (EscPosPrinter::isEscPos(job.printer))
        return printEscPos(job, ticket, error);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QCoreApplication::translate("frmTicket", "Ticket %1").arg(ticket.label));
    printer.setCopyCount(1);
    if (!m_pdfFolder.isEmpty()) {
        job.file = QDir(m_pdfFolder).filePath(QStringLiteral("ticket-%1.pdf").arg(m_jobs.size() + 1, 4, 10,
                                                                                   QLatin1Char('0')));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(job.file);
        // A receipt roll is 80 mm wide; the ticket fits in 100 mm of it.
        printer.setPageSize(QPageSize(QSizeF(80, 100), QPageSize::Millimeter, QStringLiteral("Ticket")));
        printer.setPageMargins(QMarginsF(4, 4, 4, 4), QPageLayout::Millimeter);
    } else {
        if (job.printer.isEmpty())
            return fail(QCoreApplication::translate("frmTicket", "no printer is installed"));
        printer.setPrinterName(job.printer);
        if (!printer.isValid())
            return fail(QCoreApplication::translate("frmTicket", "the printer %1 is not available").arg(job.printer));
    }

    QPainter painter;
    if (!painter.begin(&printer))
        return fail(QCoreApplication::translate("frmTicket", "the printer %1 could not start the ticket")
                        .arg(job.file.isEmpty() ? job.printer : job.file));
    paintTicket(painter, ticketLines(ticket));
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return fail(QCoreApplication::translate("frmTicket", "the printer %1 reported an error")
                        .arg(job.file.isEmpty() ? job.printer : job.file));
    m_jobs.append(job);
    return true;
}

bool TicketPrint::printEscPos(const Job& job, const TicketText& ticket, QString* error)
{
    if (job.printer == m_silentPrinter && ticket.label == m_silentLabel) {
        if (error)
            *error = m_silentError;
        return false;
    }
    EscPosPrinter printer(job.printer);
    printer.setTimeout(m_escPosTimeout);
    const int paper = EscPos::paperWidth(m_settings.get(Keys::PrinterWidth));
    QString why;
    if (!printer.send(EscPos::ticket(ticketLines(ticket), paper), &why)) {
        if (printer.timedOut()) {
            m_silentPrinter = job.printer;
            m_silentLabel = ticket.label;
            m_silentError = why;
        }
        if (error)
            *error = why;
        return false;
    }
    m_silentPrinter.clear();
    m_jobs.append(job);
    return true;
}

} // namespace tallyvo
