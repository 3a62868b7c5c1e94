#include "tokens/ui/frmTicket.h"

#include "ui_frmTicket.h"

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Database.h"
#include "core/Paths.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"
#include "tokens/TokenIssuer.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <tuple>

namespace tallyvo {

namespace {

constexpr int kKeyColTwips = 1;
constexpr int kDeptColTwips = 5000;
constexpr int kServColTwips = 4000;

QString backText()
{
    return frmTicket::tr("<-Back");
}

} // namespace

frmTicket::frmTicket(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
                     Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmTicket>())
    , m_connection(connection)
    , m_settings(settings)
    , m_session(session)
    , m_clock(clock)
    , m_prompt(prompt)
    , m_print(settings)
{
    m_ui->setupUi(this);
    m_fg = m_ui->FG;

    QFont gridFont(QStringLiteral("Arial"));
    gridFont.setPointSizeF(14.25);
    gridFont.setBold(true);
    m_fg->setFont(gridFont);
    // Choices are touched, not hovered: the pressed row lights up, and nothing stays lit after.
    m_fg->setHighlight(Grid::Highlight::Always);
    m_fg->setBackColorBkg(palette().color(QPalette::Window));
    m_fg->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_fg->verticalScrollBar()->setStyleSheet(QStringLiteral("QScrollBar:vertical { width: 28px; }"));
    m_fg->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_fg->setFrameShape(QFrame::NoFrame);

    QFont exitFont = m_ui->cmdExit->font();
    exitFont.setPointSizeF(12);
    m_ui->cmdExit->setFont(exitFont);

    QFont closeFont = m_ui->lblClose->font();
    closeFont.setPointSizeF(16);
    closeFont.setBold(true);
    m_ui->lblClose->setFont(closeFont);
    m_ui->lblClose->installEventFilter(this);
    m_fg->viewport()->installEventFilter(this);

    // The number shown when a kiosk's ticket did not print: the choices' own font, large.
    QFont numberFont = gridFont;
    numberFont.setPointSizeF(24);
    m_ui->lblYourNumber->setFont(numberFont);
    numberFont.setPointSizeF(96);
    m_ui->lblNumber->setFont(numberFont);
    m_ui->fraNumber->installEventFilter(this);
    m_numberTimer = new QTimer(this);
    m_numberTimer->setSingleShot(true);
    connect(m_numberTimer, &QTimer::timeout, m_ui->fraNumber, &QWidget::hide);

    connect(m_ui->cmdExit, &QPushButton::clicked, this, &QWidget::close);
    connect(m_fg, &Grid::clicked, this, &frmTicket::gridClicked);
    // An operator who picks a date means it; picking today again goes back to following the day.
    connect(m_ui->DT, &QDateEdit::userDateChanged, this, [this](QDate date) {
        m_dateSetFor = date == m_clock.today() ? date : QDate();
    });

    // The date box follows the day while nobody has picked another one, so what it shows after
    // midnight is the day the next token goes to.
    auto* dayTimer = new QTimer(this);
    connect(dayTimer, &QTimer::timeout, this, [this] {
        if (m_dateSetFor.isValid() && m_dateSetFor != m_clock.today())
            setDateToday();
    });
    dayTimer->start(30000);

    m_kiosk = m_settings.get(Keys::TicketScreen) != QLatin1String("Normal");
    if (m_kiosk)
        makeCenter();

    setDateToday();
    move(0, 0);
    m_stage = 0;

    m_rowHeight = m_settings.getInt(Keys::PrinterRow);
    if (m_rowHeight <= 0)
        m_rowHeight = Keys::PrinterRow.fallback.toInt();
    m_fg->setRowHeightMin(m_rowHeight);
    m_fg->setRowHeight(0, m_rowHeight + 100);
    m_designFile = Paths::dataFile(QStringLiteral("design/01.jpg"));

    // The station shares the program's connection: it connects only when nothing is connected
    // yet, so opening it never swaps a working connection for a failed one. A failed connect has
    // already opened the connection window through the connection's failure handler; the grid
    // then stays empty instead of showing a second message.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    addDept();
    getcompDet();
    sizeGrid();
}

frmTicket::~frmTicket() = default;

void frmTicket::showAsConfigured()
{
    if (m_kiosk) {
        showFullScreen();
    } else {
        move(0, 0);
        show();
    }
}

QDate frmTicket::issueDate() const
{
    if (m_kiosk)
        return m_clock.today();
    // Still on the day it was last set to: follow the clock past midnight.
    if (m_dateSetFor.isValid())
        return m_clock.today();
    return m_ui->DT->date();
}

void frmTicket::setDateToday()
{
    const QDate today = m_clock.today();
    m_ui->DT->setDate(today);
    m_dateSetFor = today;
}

void frmTicket::makeCenter()
{
    m_ui->lblDate->hide();
    m_ui->DT->hide();
    m_ui->layGrid->removeItem(m_ui->spcGridLeft);
    m_ui->spcGridLeft->changeSize(0, 10, QSizePolicy::Expanding, QSizePolicy::Minimum);
    m_ui->layGrid->insertItem(0, m_ui->spcGridLeft);
    m_ui->layGrid->invalidate();
}

void frmTicket::sizeGrid()
{
    // Wide enough for the department column and the scroll bar, so the grid does not change
    // width between the two stages.
    const int cols = twipsToPixels(kKeyColTwips + kDeptColTwips, m_fg->logicalDpiX());
    const int bar = m_fg->verticalScrollBar()->sizeHint().width();
    m_fg->setFixedWidth(cols + bar + 2 * m_fg->frameWidth());
}

std::shared_ptr<Database> frmTicket::openDb() const
{
    // Always the connection's current database, so a reconnect from the connection window is
    // picked up by the next choice.
    auto db = m_connection.db();
    return db && db->isOpen() ? db : nullptr;
}

void frmTicket::fillChoices(const QString& header, int width, const QString& sql, const QVariantList& values)
{
    m_fg->setRows(1);
    m_fg->setCols(2);
    m_fg->setColWidth(0, kKeyColTwips);
    m_fg->setColWidth(1, width);
    m_fg->setTextMatrix(0, 1, header);
    const auto db = openDb();
    try {
        QSqlQuery q;
        if (db)
            q = db->run(sql, values);
        while (q.next()) {
            const int row = m_fg->rows();
            m_fg->setRows(row + 1);
            m_fg->setTextMatrix(row, 0, q.value(0).toString());
            m_fg->setTextMatrix(row, 1, q.value(1).toString());
        }
    } catch (const DbError& e) {
        m_prompt.alert(Prompt::Icon::Critical, e.text());
    }
}

void frmTicket::addDept()
{
    fillChoices(tr("Select Department"), kDeptColTwips,
                QStringLiteral("SELECT deptAuto, deptName FROM tblDept WHERE active='1'"));
    addimg(m_designFile);
}

void frmTicket::addServ(int deptKey)
{
    fillChoices(tr("Select Service"), kServColTwips,
                QStringLiteral("SELECT servAuto, ServName FROM tblService WHERE deptAuto=? AND active='1'"),
                {deptKey});
    const int back = m_fg->rows();
    m_fg->setRows(back + 1);
    m_fg->setTextMatrix(back, 1, backText());
    addimg(m_designFile);
}

void frmTicket::addimg(const QString& file)
{
    const QPixmap picture(file);
    const qreal dpiX = m_fg->logicalDpiX();
    const qreal dpiY = m_fg->logicalDpiY();
    for (int row = Grid::fixedRows(); row < m_fg->rows(); ++row) {
        m_fg->setRow(row);
        m_fg->setCol(1);
        if (picture.isNull()) {
            m_fg->setCellPicture(QPixmap());
            continue;
        }
        const QSize cell(twipsToPixels(m_fg->cellWidth(), dpiX), twipsToPixels(m_fg->cellHeight(), dpiY));
        if (cell.isEmpty())
            continue;
        // Scaled once for the cell at the screen's own density, so it stays sharp on a
        // high-density kiosk screen.
        const qreal ratio = m_fg->devicePixelRatioF();
        QPixmap scaled = picture.scaled(cell * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        m_fg->setCellPicture(scaled);
    }
    // Nothing chosen yet: only the row a finger presses lights up.
    m_fg->setRow(0);
}

void frmTicket::getcompDet()
{
    m_company1.clear();
    m_company2.clear();
    const auto db = openDb();
    if (!db)
        return;
    try {
        if (const auto company = companyLines(*db))
            std::tie(m_company1, m_company2) = *company;
    } catch (const DbError& e) {
        // The ticket prints without the company lines rather than not at all.
        m_prompt.alert(Prompt::Icon::Critical, e.text());
    }
}

QString frmTicket::getNowServing(int serviceKey) const
{
    const auto db = openDb();
    if (!db)
        return QString();
    NoTicketPrinter none;
    return TokenIssuer(*db, m_clock, m_session, none).getNowServing(serviceKey);
}

bool frmTicket::startPrint(const TicketData& ticket)
{
    m_printError.clear();
    // Read for every ticket, so new company details reach a station that has been open for days;
    // when the read fails the lines last read are printed.
    if (const auto db = openDb()) {
        try {
            if (const auto company = companyLines(*db))
                std::tie(m_company1, m_company2) = *company;
        } catch (const DbError&) {
        }
    }
    TicketText text = ticketText(ticket, m_company1, m_company2, m_clock);
    try {
        text.nowServing = getNowServing(ticket.serviceKey);
    } catch (const DbError&) {
        // The ticket matters more than the line that says who is being served.
    }
    return m_print.print(text, &m_printError);
}

void frmTicket::gridClicked()
{
    if (m_busy)
        return;
    const int row = m_fg->selectedRow();
    if (row < Grid::fixedRows())
        return;
    const QString key = m_fg->textMatrix(row, 0).trimmed();
    const QString text = m_fg->textMatrix(row, 1);
    if (key.isEmpty() && text == backText()) {
        addDept();
        m_stage = 0;
        return;
    }
    if (key.isEmpty())
        return;
    if (m_stage == 0) {
        addServ(key.toInt());
        m_stage = 1;
        return;
    }
    issue(key.toInt(), text);
    addDept();
    m_stage = 0;
}

void frmTicket::issue(int serviceKey, const QString& serviceName)
{
    const auto db = openDb();
    if (!db) {
        m_prompt.alert(Prompt::Icon::Critical, m_connection.lastError());
        return;
    }
    m_busy = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    TokenIssuer issuer(*db, m_clock, m_session, *this);
    issuer.setIssueDate(issueDate());
    // A click whose token may have been stored when the server went: the next click of that
    // service takes that token rather than a second one.
    issuer.setPending(m_pendingIssue);
    const IssueResult result = issuer.issue(serviceKey, serviceName);
    m_pendingIssue = issuer.pending();
    QGuiApplication::restoreOverrideCursor();
    if (result.stored())
        setDateToday();
    if (result.status == IssueResult::Status::Issued && result.copiesPrinted > 0)
        m_ui->lblNotice->hide();
    if (result.status == IssueResult::Status::PrintFailed && m_kiosk) {
        // Nobody stands by a kiosk to click a box away: the visitor reads the number off the
        // screen, and the next visitor can go on at once.
        m_ui->lblNotice->setText(tr("Tickets are not printing: %1").arg(result.error));
        m_ui->lblNotice->show();
        showNumber(result.token.label);
    } else if (result.status != IssueResult::Status::Issued) {
        // "Limit", a token that could not be stored, or a stored token whose ticket did not
        // print: the message names the token so staff can write it down for the visitor.
        m_prompt.alert(result.status == IssueResult::Status::Limit ? Prompt::Icon::Exclamation
                                                                   : Prompt::Icon::Critical,
                       result.message());
    }
    m_busy = false;
}

QString frmTicket::printerNotice() const
{
    return m_ui->lblNotice->isVisible() ? m_ui->lblNotice->text() : QString();
}

void frmTicket::showNumber(const QString& label)
{
    m_ui->lblNumber->setText(label);
    placeNumber();
    m_ui->fraNumber->show();
    m_ui->fraNumber->raise();
    m_numberTimer->start(m_numberShownMs);
}

void frmTicket::placeNumber()
{
    QWidget* frame = m_ui->fraNumber;
    const QSize box = frame->sizeHint().expandedTo(QSize(width() * 2 / 3, height() / 2)).boundedTo(size());
    frame->setGeometry(QRect(QPoint((width() - box.width()) / 2, (height() - box.height()) / 2), box));
    // Behind the number, the picture every choice shows.
    const QPixmap picture(m_designFile);
    QPalette colours = palette();
    if (!picture.isNull())
        colours.setBrush(QPalette::Window, picture.scaled(box, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    frame->setPalette(colours);
}

void frmTicket::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeClose();
    if (m_ui->fraNumber->isVisible())
        placeNumber();
}

void frmTicket::placeClose()
{
    m_ui->lblClose->move(width() - m_ui->lblClose->width(), 0);
    m_ui->lblClose->raise();
}

bool frmTicket::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->lblClose && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_ui->lblClose->rect().contains(mouse->position().toPoint())) {
            close();
            return true;
        }
    }
    // A touch on the number puts it away before its time.
    if (watched == m_ui->fraNumber && event->type() == QEvent::MouseButtonRelease) {
        m_numberTimer->stop();
        m_ui->fraNumber->hide();
        return true;
    }
    // A finger that slides off a choice before lifting cancels it; the choice must not stay lit
    // as if it had been taken. Queued, so a real click is handled first.
    if (watched == m_fg->viewport() && event->type() == QEvent::MouseButtonRelease)
        QMetaObject::invokeMethod(this, [this] { m_fg->setRow(0); }, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

} // namespace tallyvo
