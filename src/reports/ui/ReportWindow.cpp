#include "reports/ui/ReportWindow.h"

#include "ui_ReportWindow.h"

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTimer>

#include <limits>

namespace tallyvo {

namespace {

// A report is one query over days of tokens: typing a name or stepping a date runs it once the
// user pauses, not on every keystroke.
constexpr int kTypingPauseMs = 400;

} // namespace

ReportWindow::ReportWindow(ReportKind kind, Connection& connection, Session& session, const Clock& clock,
                           Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_connection(connection)
    , m_session(session)
    , m_clock(clock)
    , m_prompt(prompt)
    , m_ui(std::make_unique<Ui::ReportWindow>())
    , m_kind(kind)
    , m_refill(new QTimer(this))
{
    m_ui->setupUi(this);
    m_refill->setSingleShot(true);
    m_refill->setInterval(kTypingPauseMs);
    connect(m_refill, &QTimer::timeout, this, &ReportWindow::addFG);
    setWindowTitle(Reports::caption(kind));
    m_ui->lblDept->setText(Reports::filterLabel(kind));
    m_ui->cmbDept->setAccessibleName(Reports::filterLabel(kind));
    m_ui->FG->setAccessibleName(Reports::caption(kind));

    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    addDept();
    {
        const QSignalBlocker quietFrom(m_ui->dtFrom);
        const QSignalBlocker quietTo(m_ui->DTto);
        m_ui->dtFrom->setDate(m_clock.today());
        m_ui->DTto->setDate(m_clock.today());
    }
    // The pending report opens with today's waiting tokens of every service; the others wait for
    // a name or "All".
    m_ui->cmbDept->setEditText(kind == ReportKind::Pending ? QStringLiteral("All") : QString());
    addFG();

    // Typing and stepping a date fill once the user pauses; a choice from the list, "Show All"
    // and "Show" fill at once. Setting the text from the program does not fill.
    connect(m_ui->cmbDept->lineEdit(), &QLineEdit::textEdited, this, &ReportWindow::refillSoon);
    connect(m_ui->dtFrom, &QDateEdit::dateChanged, this, &ReportWindow::refillSoon);
    connect(m_ui->DTto, &QDateEdit::dateChanged, this, &ReportWindow::refillSoon);
    connect(m_ui->cmbDept, &QComboBox::activated, this, &ReportWindow::addFG);
    connect(m_ui->chkAll, &QCheckBox::toggled, this, &ReportWindow::addFG);
    connect(m_ui->Command2, &QPushButton::clicked, this, &ReportWindow::show_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &QWidget::close);
}

ReportWindow::~ReportWindow()
{
    m_fill.reset();
    // Closing the window takes the focus from the filter, which would report a choice and fill
    // the grid of a window already half gone.
    m_ui->cmbDept->blockSignals(true);
    m_ui->cmbDept->lineEdit()->blockSignals(true);
    m_refill->stop();
}

void ReportWindow::refillSoon()
{
    m_refill->start();
}

bool ReportWindow::refillPending() const
{
    return m_refill->isActive();
}

void ReportWindow::show_Click()
{
    // Asked for in so many words: a refusal is told again even when it was told before.
    m_shownFailure.clear();
    addFG();
}

Grid* ReportWindow::grid() const
{
    return m_ui->FG;
}

QWidget* ReportWindow::bottomPanel() const
{
    return m_ui->Frame2;
}

QPushButton* ReportWindow::closeButton() const
{
    return m_ui->Command1;
}

void ReportWindow::addDept()
{
    QComboBox* list = m_ui->cmbDept;
    const QSignalBlocker quiet(list);
    const QString typed = list->currentText();
    list->clear();
    try {
        list->addItems(Reports::filterNames(*m_connection.db(), m_kind));
    } catch (const DbError& e) {
        list->addItem(QStringLiteral("All"));
        m_prompt.message(e.text());
    }
    list->setCurrentIndex(-1);
    list->setEditText(typed);
}

ReportRequest ReportWindow::request() const
{
    ReportRequest r;
    r.kind = m_kind;
    r.filter = m_ui->cmbDept->currentText();
    r.from = m_ui->dtFrom->date();
    r.to = m_ui->DTto->date();
    r.showAll = m_ui->chkAll->isChecked();
    return r;
}

void layOutReportGrid(Grid& fg)
{
    const auto& columns = Reports::columns();
    fg.setRows(1);
    fg.setCols(int(columns.size()));
    for (size_t c = 0; c < columns.size(); ++c) {
        fg.setColWidth(int(c), columns[c].width);
        fg.setTextMatrix(0, int(c), columns[c].header);
    }
}

void ReportWindow::setFG()
{
    layOutReportGrid(*m_ui->FG);
}

// A report's rows as the grid's data rows.
class ReportGridRows final : public GridRowSource {
public:
    explicit ReportGridRows(ReportResult result)
        : m_result(std::move(result))
    {
    }

    int rowCount() const override
    {
        // The grid counts rows in int; a report past that (never seen: a busy year is a few
        // million) shows what fits rather than wrapping round to a negative count.
        return int(std::min(m_result.rows.size(), size_t(std::numeric_limits<int>::max() - 1)));
    }
    QString text(int row, int col) const override
    {
        if (row < 0 || size_t(row) >= m_result.rows.size() || col < int(ReportColumn::Key) ||
            col > int(ReportColumn::Duration))
            return QString();
        return m_result.text(size_t(row), ReportColumn(col));
    }
    const ReportResult& result() const { return m_result; }
    ReportResult& result() { return m_result; }

private:
    ReportResult m_result;
};

void ReportWindow::addFG()
{
    m_refill->stop();
    ++m_fillCount;
    // A fill under way reads for the choices before: it stops here.
    m_fill.reset();
    m_filling.reset();
    setFG();
    const ReportRequest r = request();
    QPointer<ReportWindow> self(this);
    m_fill = ReportFill::start(*m_connection.db(), r, [self] {
        QMetaObject::invokeMethod(
            self, [self] {
                if (self)
                    self->takeParts(false);
            },
            Qt::QueuedConnection);
    });
    if (m_fill) {
        m_fillRequest = r;
        m_filling = std::make_shared<ReportGridRows>(ReportResult());
        m_ui->FG->setRowSource(m_filling);
        m_ui->lblAvg->setText(tr("Reading the report…"));
        takeParts(false);
        return;
    }

    ReportResult result = Reports::run(*m_connection.db(), r);
    tellFailure(result.error);
    fillReportGrid(*m_ui->FG, std::move(result));
    showAverage(r);
}

void ReportWindow::tellFailure(const QString& error)
{
    // Once per failure: the same refusal on the next keystroke's fill would put a box in the way
    // of every letter.
    if (error.isEmpty()) {
        m_shownFailure.clear();
    } else if (error != m_shownFailure) {
        m_shownFailure = error;
        m_prompt.message(error);
    }
}

void ReportWindow::showAverage(const ReportRequest& r)
{
    if (!r.showAll)
        getAvg();
    else
        m_ui->lblAvg->setText(QString());
}

void ReportWindow::takeParts(bool wait)
{
    if (!m_fill)
        return;
    // A part at a time, each in an event of its own: parts read meanwhile never keep the window
    // from answering while they are joined to the rows.
    const bool whole = m_fill->takeParts(m_filling->result(), wait, 1);
    if (!whole) {
        m_ui->FG->rowSourceGrew();
        //: The average line while a long report is still being read; %1 is the rows so far.
        m_ui->lblAvg->setText(tr("Reading the report… %1 rows so far").arg(m_filling->rowCount()));
        if (m_fill->partWaiting())
            QMetaObject::invokeMethod(this, [this] { takeParts(false); }, Qt::QueuedConnection);
        return;
    }
    m_fill.reset();
    const std::shared_ptr<ReportGridRows> rows = std::move(m_filling);
    const QString error = rows->result().error;
    tellFailure(error);
    if (error.isEmpty())
        m_ui->FG->rowSourceGrew();
    else
        fillReportGrid(*m_ui->FG, ReportResult()); // the header row alone, as a refusal leaves it
    // The fill added the minutes up as it read, by the rule of the grid's own average.
    m_ui->lblAvg->setText(m_fillRequest.showAll ? QString() : rows->result().average);
}

void ReportWindow::finishFill()
{
    takeParts(true);
}

void fillReportGrid(Grid& fg, ReportResult result)
{
    // The grid's rows are counted in int: a report past that keeps what fits, its average line
    // and exports agreeing with what the grid shows.
    const size_t fits = size_t(std::numeric_limits<int>::max() - 1);
    if (result.rows.size() > fits) {
        // The last row kept ends its label where the first row dropped began.
        result.tokens.truncate(result.rows[fits].tokenAt);
        result.rows.truncate(fits);
    }
    fg.setRowSource(std::make_shared<ReportGridRows>(std::move(result)));
}

const ReportResult* reportOfGrid(const Grid& fg)
{
    const auto* rows = dynamic_cast<const ReportGridRows*>(fg.rowSource().get());
    return rows ? &rows->result() : nullptr;
}

QString gridAverage(const Grid& fg)
{
    if (const ReportResult* report = reportOfGrid(fg)) {
        // The rows' own minutes, by the same rule as the texts: an unfinished token counts 0.
        if (report->rows.empty())
            return QString();
        return Reports::averageText(report->totalMinutes(), report->rows.size());
    }
    QStringList durations;
    durations.reserve(fg.rows());
    for (int r = 1; r < fg.rows(); ++r)
        durations << fg.textMatrix(r, int(ReportColumn::Duration));
    return Reports::averageLine(durations).value_or(QString());
}

void ReportWindow::getAvg()
{
    m_ui->lblAvg->setText(gridAverage(*m_ui->FG));
}

bool ReportWindow::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        m_session.currentReportWindow = this;
    return QWidget::event(e);
}

int ReportWindow::twipsToX(int twips) const
{
    return twipsToPixels(twips, logicalDpiX());
}

int ReportWindow::xToTwips(int pixels) const
{
    return pixelsToTwips(pixels, logicalDpiX());
}

void ReportWindow::placeButtons(int widthTwips)
{
    QPushButton* close = m_ui->Command1;
    close->move(twipsToX(widthTwips - 1600), close->y());
}

void ReportWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = xToTwips(width());
    const int h = pixelsToTwips(height(), logicalDpiY());
    // Too small a window (a minimised one) keeps the last layout.
    if (w <= 400 || h <= 2400)
        return;
    QWidget* panel = m_ui->Frame1;
    panel->resize(twipsToX(w - 400), panel->height());
    Grid* fg = m_ui->FG;
    fg->resize(twipsToX(w - 400), twipsToPixels(h - 2400, logicalDpiY()));
    QWidget* bottom = m_ui->Frame2;
    bottom->setGeometry(0, fg->geometry().bottom() + 1, width(), qMax(bottom->height(), height() - fg->geometry().bottom() - 1));
    placeButtons(w);
}

frmReport::frmReport(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                     QWidget* parent)
    : ReportWindow(ReportKind::Department, connection, session, clock, prompt, parent)
{
    setObjectName(QStringLiteral("frmReport"));
}

frmRptServ::frmRptServ(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                       QWidget* parent)
    : ReportWindow(ReportKind::Service, connection, session, clock, prompt, parent)
{
    setObjectName(QStringLiteral("frmRptServ"));
}

frmRptCounter::frmRptCounter(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                             QWidget* parent)
    : ReportWindow(ReportKind::Counter, connection, session, clock, prompt, parent)
{
    setObjectName(QStringLiteral("frmRptCounter"));
}

frmPending::frmPending(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                       QWidget* parent)
    : ReportWindow(ReportKind::Pending, connection, session, clock, prompt, parent)
{
    setObjectName(QStringLiteral("frmPending"));
}

} // namespace tallyvo
