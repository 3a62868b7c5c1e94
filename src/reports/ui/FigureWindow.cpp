#include "reports/ui/FigureWindow.h"

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "reports/FigureSheet.h"
#include "reports/Report.h"
#include "widgets/Grid.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSplitter>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

namespace tallyvo {

namespace {

const QString allNames = QStringLiteral("All");

} // namespace

FigureWindow::FigureWindow(FigureKind kind, Connection& connection, Session& session, const Clock& clock,
                           Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_kind(kind)
    , m_connection(connection)
    , m_session(session)
    , m_clock(clock)
    , m_prompt(prompt)
{
    setObjectName(QStringLiteral("FigureWindow"));
    setWindowTitle(QueueFigures::caption(kind));
    resize(1100, 760);

    auto* scopeLabel = new QLabel(tr("Filter by"), this);
    m_scope = new QComboBox(this);
    m_scope->setObjectName(QStringLiteral("cmbScope"));
    m_scope->addItem(tr("Service"), int(FigureRequest::Scope::Service));
    m_scope->addItem(tr("Department"), int(FigureRequest::Scope::Department));
    m_scope->addItem(tr("Counter"), int(FigureRequest::Scope::Counter));
    m_scope->setCurrentIndex(m_scope->findData(
        int(kind == FigureKind::Counters ? FigureRequest::Scope::Counter : FigureRequest::Scope::Service)));
    scopeLabel->setBuddy(m_scope);
    m_filterLabel = new QLabel(this);
    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("cmbFilter"));
    m_filter->setEditable(true);
    m_filter->setMinimumContentsLength(18);
    m_filterLabel->setBuddy(m_filter);
    auto* fromLabel = new QLabel(tr("From"), this);
    m_from = new QDateEdit(clock.today(), this);
    m_from->setObjectName(QStringLiteral("dtFrom"));
    m_from->setDisplayFormat(QStringLiteral("dd-MM-yyyy"));
    m_from->setCalendarPopup(true);
    fromLabel->setBuddy(m_from);
    auto* toLabel = new QLabel(tr("To"), this);
    m_to = new QDateEdit(clock.today(), this);
    m_to->setObjectName(QStringLiteral("DTto"));
    m_to->setDisplayFormat(QStringLiteral("dd-MM-yyyy"));
    m_to->setCalendarPopup(true);
    toLabel->setBuddy(m_to);
    auto* show = new QPushButton(tr("Show"), this);
    show->setObjectName(QStringLiteral("cmdShow"));
    auto* filters = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{scopeLabel, m_scope, m_filterLabel, m_filter, fromLabel, m_from,
                                                      toLabel, m_to, show})
        filters->addWidget(w);
    filters->addStretch();

    m_grid = new Grid(this);
    m_grid->setObjectName(QStringLiteral("FG"));
    m_grid->setAccessibleName(windowTitle());
    m_chartView = new QChartView(this);
    m_chartView->setObjectName(QStringLiteral("chart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setAccessibleName(tr("Chart"));
    m_chartView->setMinimumHeight(260);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_grid);
    split->addWidget(m_chartView);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    auto* excel = new QPushButton(tr("Send to Excel"), this);
    excel->setObjectName(QStringLiteral("cmdExcel"));
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("Command1"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_summary, 1);
    bottom->addWidget(excel);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);

    connect(show, &QPushButton::clicked, this, &FigureWindow::addFG);
    connect(excel, &QPushButton::clicked, this, [this] { sendToExcel(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_filter, &QComboBox::activated, this, &FigureWindow::addFG);
    connect(m_scope, &QComboBox::activated, this,
            [this] { setScope(FigureRequest::Scope(m_scope->currentData().toInt())); });

    // Load: the station's shared connection, opened if it is not yet.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    setScope(FigureRequest::Scope(m_scope->currentData().toInt()));
}

FigureWindow::~FigureWindow() = default;

FigureRequest FigureWindow::request() const
{
    FigureRequest r;
    r.from = m_from->date();
    r.to = m_to->date();
    r.scope = FigureRequest::Scope(m_scope->currentData().toInt());
    r.name = m_filter->currentText();
    return r;
}

void FigureWindow::setScope(FigureRequest::Scope scope)
{
    m_scope->setCurrentIndex(m_scope->findData(int(scope)));
    switch (scope) {
    case FigureRequest::Scope::Department:
        m_filterLabel->setText(tr("Select Department"));
        break;
    case FigureRequest::Scope::Counter:
        m_filterLabel->setText(tr("Select Counter"));
        break;
    case FigureRequest::Scope::Service:
        m_filterLabel->setText(tr("Select Service"));
        break;
    }
    // A name of the other list means nothing here: the new list starts from everything.
    m_filter->setCurrentText(allNames);
    addFilter();
    addFG();
}

void FigureWindow::addFilter()
{
    const QString typed = m_filter->currentText();
    m_filter->clear();
    try {
        const auto scope = FigureRequest::Scope(m_scope->currentData().toInt());
        m_filter->addItems(Reports::filterNames(*m_connection.db(), scope == FigureRequest::Scope::Counter
                                                    ? ReportKind::Counter
                                                    : scope == FigureRequest::Scope::Department ? ReportKind::Department
                                                                                                : ReportKind::Service));
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    m_filter->setCurrentText(typed);
}

void FigureWindow::addFG()
{
    const FigureRequest r = request();
    if (r.from > r.to) {
        m_prompt.message(tr("The first day of the range is after its last day."));
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        m_table = QueueFigures(*m_connection.db(), r).table(m_kind);
    } catch (const DbError& e) {
        QGuiApplication::restoreOverrideCursor();
        m_table = QueueFigures::emptyTable(m_kind);
        showTable();
        showChart();
        m_prompt.message(e.text());
        return;
    }
    QGuiApplication::restoreOverrideCursor();
    showTable();
    showChart();
}

void FigureWindow::showTable()
{
    Grid& g = *m_grid;
    const Grid::Batch batch(g);
    const int cols = int(m_table.header.size()) + 1;
    g.setRows(1);
    g.setCols(cols);
    g.setColWidth(0, 1);
    for (int c = 1; c < cols; ++c) {
        // Wide enough for its header, as "Within target %", and for the texts of the first rows,
        // as a date.
        qsizetype widest = m_table.header.value(c - 1).size();
        for (size_t r = 0; r < std::min<size_t>(m_table.rows.size(), 200); ++r)
            widest = std::max(widest, m_table.rows[r].value(c - 1).size());
        g.setColWidth(c, std::max(c == 1 ? 2000 : 1100, 200 + 110 * int(widest)));
        g.setTextMatrix(0, c, m_table.header.value(c - 1));
    }
    // The grid shows the table's rows as they are (shared, not copied cell by cell).
    class TableRows final : public GridRowSource {
    public:
        explicit TableRows(const FigureTable& table)
            : m_rows(table.rows)
        {
        }
        int rowCount() const override { return int(m_rows.size()); }
        QString text(int row, int col) const override
        {
            return col < 1 || row < 0 || size_t(row) >= m_rows.size() ? QString() : m_rows[size_t(row)].value(col - 1);
        }

    private:
        std::vector<QStringList> m_rows;
    };
    g.setRowSource(std::make_shared<TableRows>(m_table));
    m_summary->setText(m_table.rows.empty() ? tr("Nothing in this range.") : tr("%n row(s)", nullptr, int(m_table.rows.size())));
}

void FigureWindow::showChart()
{
    const FigureChart plan = FigureChart::of(m_kind, m_table);
    auto* chart = new QChart;
    chart->setTitle(plan.title);
    chart->legend()->setVisible(plan.series.size() > 1 || plan.kind == FigureChart::Kind::Line);
    double top = 0;
    if (plan.kind == FigureChart::Kind::Column) {
        auto* bars = new QBarSeries(chart);
        QStringList categories;
        for (const FigureChart::Series& s : plan.series) {
            auto* set = new QBarSet(s.name, bars);
            for (const std::optional<double>& v : FigureChart::values(m_table, s.values)) {
                *set << v.value_or(0);
                top = std::max(top, v.value_or(0));
            }
            bars->append(set);
            if (categories.isEmpty())
                categories = FigureChart::texts(m_table, s.categories);
        }
        chart->addSeries(bars);
        auto* x = new QBarCategoryAxis(chart);
        x->append(categories);
        chart->addAxis(x, Qt::AlignBottom);
        bars->attachAxis(x);
        // Ticks at whole steps of 1, 2, 5, 10, 20, 50... with room above the highest column, so
        // that each whole-number label stands exactly where its value is.
        double step = 1;
        for (int i = 0; step * 5 < top; ++i)
            step *= i % 3 == 1 ? 2.5 : 2;
        const int steps = int(top / step) + 1;
        auto* y = new QValueAxis(chart);
        y->setRange(0, steps * step);
        y->setTickCount(steps + 1);
        y->setLabelFormat(QStringLiteral("%d"));
        y->setTitleText(plan.valueTitle);
        chart->addAxis(y, Qt::AlignLeft);
        bars->attachAxis(y);
    } else {
        // One line per service over the days of the range, days as categories in order.
        QStringList days;
        for (const FigureChart::Series& s : plan.series)
            for (const QString& d : FigureChart::texts(m_table, s.categories))
                if (!days.contains(d))
                    days << d;
        std::sort(days.begin(), days.end());
        auto* x = new QBarCategoryAxis(chart);
        x->append(days);
        chart->addAxis(x, Qt::AlignBottom);
        auto* y = new QValueAxis(chart);
        y->setRange(0, 100);
        y->setTitleText(plan.valueTitle);
        chart->addAxis(y, Qt::AlignLeft);
        for (const FigureChart::Series& s : plan.series) {
            auto* line = new QLineSeries(chart);
            line->setName(s.name);
            line->setPointsVisible(true);
            const QStringList at = FigureChart::texts(m_table, s.categories);
            const std::vector<std::optional<double>> values = FigureChart::values(m_table, s.values);
            for (size_t i = 0; i < values.size(); ++i)
                if (values[i])
                    line->append(double(days.indexOf(at.value(int(i)))), *values[i]);
            chart->addSeries(line);
            line->attachAxis(x);
            line->attachAxis(y);
        }
    }
    QChart* old = m_chartView->chart();
    m_chartView->setChart(chart);
    delete old;
}

SheetGrid FigureWindow::sheet() const
{
    return figureSheet(m_kind, m_table);
}

QString FigureWindow::sendToExcel(const modExcel::Opener& open)
{
    return modExcel::exportSheet(sheet(), windowTitle(), m_prompt, open);
}

bool FigureWindow::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        m_session.currentReportWindow = this;
    return QWidget::event(e);
}

} // namespace tallyvo
