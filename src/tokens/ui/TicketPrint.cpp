#include "tokens/ui/TicketPrint.h"

#include "core/SettingsStore.h"
#include "tokens/EscPos.h"
#include "tokens/EscPosPrinter.h"
#include "tokens/QrCode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cmath>

namespace tallyvo {

namespace {

// Characters of a line's font that must fit right of its column.
constexpr int kNarrowestColumn = 12;

// The side of a module in device pixels: whole pixels, so each edge is sharp however the printer
// scales. About 28 mm for the usual link, which a phone reads from a hand's length and which
// leaves room on a 58 mm roll; never wider than the paper.
int qrModule(const QrCode& code, const QPaintDevice& device, qreal paper)
{
    constexpr qreal kSideMm = 28;
    const qreal wanted = qMin(paper, kSideMm / 25.4 * device.logicalDpiY());
    return qMax(1, int(wanted / code.sizeWithQuietZone()));
}

// Paints the code, quiet zone included, centred across the paper from `top`.
void paintQrCode(QPainter& painter, const QrCode& code, int module, qreal paper, int top)
{
    const int side = code.sizeWithQuietZone() * module;
    const int left = qMax(0, int((paper - side) / 2));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(left, top, side, side), Qt::white);
    for (int y = 0; y < code.size(); ++y) {
        // One rectangle a run of dark modules: fewer, larger shapes for the printer.
        for (int x = 0; x < code.size();) {
            if (!code.dark(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < code.size() && code.dark(end, y))
                ++end;
            painter.fillRect(QRect(left + (x + QrCode::kQuietZone) * module, top + (y + QrCode::kQuietZone) * module,
                                   (end - x) * module, module),
                             Qt::black);
            x = end;
        }
    }
    painter.restore();
}

} // namespace

qreal paintTicket(QPainter& painter, const QVector<TicketLine>& lines)
{
    QPaintDevice* device = painter.device();
    const qreal paper = device->width();
    auto* paged = dynamic_cast<QPagedPaintDevice*>(device);
    qreal y = 0;
    for (const TicketLine& line : lines) {
        if (!line.qrCode.isEmpty()) {
            const QrCode code(line.qrCode);
            if (code.isNull())
                continue;
            const int module = qrModule(code, *device, paper);
            const int side = code.sizeWithQuietZone() * module;
            // A code cut by the page's end reads as nothing: it goes whole on the next page.
            if (y > 0 && std::ceil(y) + side > device->height() && paged) {
                paged->newPage();
                y = 0;
            }
            const int top = int(std::ceil(y));
            paintQrCode(painter, code, module, paper, top);
            y = top + side;
            continue;
        }
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

TicketText TicketPrint::withWebAddress(const TicketText& ticket) const
{
    TicketText text = ticket;
    text.webAddress = m_settings.get(Keys::WebAddress);
    return text;
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
    const QVector<TicketLine> lines = ticketLines(withWebAddress(ticket));
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QCoreApplication::translate("frmTicket", "Ticket %1").arg(ticket.label));
    printer.setCopyCount(1);
    if (!m_pdfFolder.isEmpty()) {
        job.file = QDir(m_pdfFolder).filePath(QStringLiteral("ticket-%1.pdf").arg(m_jobs.size() + 1, 4, 10,
                                                                                   QLatin1Char('0')));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(job.file);
        // A receipt roll is 80 mm wide; the ticket fits in 100 mm of it, and a QR code in 40 more.
        const bool qr = std::any_of(lines.cbegin(), lines.cend(),
                                    [](const TicketLine& line) { return !line.qrCode.isEmpty(); });
        printer.setPageSize(
            QPageSize(QSizeF(80, qr ? 140 : 100), QPageSize::Millimeter, QStringLiteral("Ticket")));
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
    paintTicket(painter, lines);
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
    if (!printer.send(EscPos::ticket(ticketLines(withWebAddress(ticket)), paper), &why)) {
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
