#include "display/ui/frmDisplay.h"

#include "ui_frmDisplay.h"

#include "core/Paths.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "shell/grid/Grid.h"
#include "shell/grid/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace tallyvo {

namespace {

constexpr int kDefaultRows = 12;
constexpr int kBlinkSteps = 10;
constexpr int kBlinkIntervalMs = 200;
// The scratch grid is a speck that shows nothing.
constexpr int kScratchWidthTwips = 255;
constexpr int kScratchHeightTwips = 30;

} // namespace

frmDisplay::frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
                       QWidget* parent)
    : frmDisplay(url, settings, clock, announcer, FeedTiming{}, parent)
{
}

frmDisplay::frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
                       const FeedTiming& timing, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_ui(std::make_unique<Ui::frmDisplay>())
    , m_settings(settings)
    , m_announcer(announcer)
    , m_feed(new CallFeed(url, clock, this))
    , m_mpSound(new QSoundEffect(this))
    , m_timer6(new QTimer(this))
{
    m_ui->setupUi(this);
    load(timing);
}

frmDisplay::~frmDisplay()
{
    // The feed's thread ends before the grids it reports to go away.
    delete m_feed;
    m_feed = nullptr;
}

Grid* frmDisplay::FG() const
{
    return m_ui->FG;
}

Grid* frmDisplay::FG1() const
{
    return m_ui->FG1;
}

void frmDisplay::load(const FeedTiming& timing)
{
    m_mpSound->setObjectName(QStringLiteral("mpSound"));
    m_timer6->setObjectName(QStringLiteral("Timer6"));
    // The chime first: a missing file only means no chime.
    m_mpSound->setSource(QUrl::fromLocalFile(Paths::dataFile(QStringLiteral("ding.wav"))));
    m_mpSound->setVolume(1.0f);

    m_timer6->setInterval(kBlinkIntervalMs);
    connect(m_timer6, &QTimer::timeout, this, &frmDisplay::Timer6_Timer);

    applyDefaultLayout();
    // The speech rate is taken afresh at every display start.
    m_announcer.readRate();

    connect(m_feed, &CallFeed::recentCalls, this, &frmDisplay::addFirst);
    connect(m_feed, &CallFeed::callClaimed, this, &frmDisplay::takeCall);
    m_feed->setTiming(timing);
    m_feed->start(m_R);
    Timer1_Timer();
}

void frmDisplay::setR(int rows)
{
    m_R = static_cast<qint16>(std::clamp(rows, 0, 999));
    FG()->setRows(m_R + 1);
    FG1()->setRows(m_R + 1);
    FG1()->setCols(FG()->cols());
}

void frmDisplay::applyDefaultLayout()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    setGeometry(area);

    Grid* fg = FG();
    fg->setGeometry(rect());
    fg->setHighlight(Grid::Highlight::Never);
    fg->setFocusPolicy(Qt::NoFocus);
    fg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fg->setCols(3);
    setR(kDefaultRows);

    const qreal dpiX = fg->logicalDpiX();
    const qreal dpiY = fg->logicalDpiY();
    const int widthTwips = pixelsToTwips(area.width(), dpiX);
    fg->setColWidth(0, 1);
    fg->setColWidth(1, widthTwips * 2 / 5);
    fg->setColWidth(2, widthTwips - widthTwips * 2 / 5 - pixelsToTwips(4, dpiX));
    const int rowPixels = area.height() / (m_R + 1);
    fg->setRowHeightMin(pixelsToTwips(rowPixels, dpiY));

    const QColor back(0x10, 0x18, 0x30);
    const QColor alternate(0x1c, 0x26, 0x44);
    fg->setBackColor(back);
    fg->setBackColorBkg(back);
    fg->setBackColorFixed(QColor(0x20, 0x40, 0x80));
    fg->setForeColorFixed(Qt::white);
    fg->setGridColor(QColor(0x50, 0x60, 0x80));
    fg->setGridColorFixed(QColor(0x50, 0x60, 0x80));

    // Sizes in points from the row height, so the text fills a row on any screen; the counter
    // cell may hold two lines.
    const qreal pointsPerPixel = 72.0 / (dpiY > 0 ? dpiY : 96.0);
    const qreal tokenPoints = std::max(8.0, rowPixels * 0.55 * pointsPerPixel);
    const qreal counterPoints = std::max(6.0, rowPixels * 0.34 * pointsPerPixel);
    const qreal headerPoints = std::max(6.0, rowPixels * 0.4 * pointsPerPixel);
    fg->setTextMatrix(0, 1, tr("Token"));
    fg->setTextMatrix(0, 2, tr("Counter"));
    for (int c = 1; c <= 2; ++c) {
        fg->setCellFontBold(0, c, true);
        fg->setCellFontSize(0, c, headerPoints);
    }
    for (int r = 1; r <= m_R; ++r) {
        for (int c = 1; c <= 2; ++c) {
            if (r % 2 == 1)
                fg->setCellBackColor(r, c, alternate);
            fg->setCellFontBold(r, c, true);
        }
        fg->setCellFontSize(r, 1, tokenPoints);
        fg->setCellForeColor(r, 1, QColor(0xff, 0xd0, 0x40));
        fg->setCellFontSize(r, 2, counterPoints);
        fg->setCellForeColor(r, 2, Qt::white);
    }

    Grid* fg1 = FG1();
    fg1->resize(twipsToPixels(kScratchWidthTwips, dpiX), twipsToPixels(kScratchHeightTwips, dpiY));
}

void frmDisplay::addFirst(const QList<CallRow>& recent)
{
    Grid* fg = FG();
    int n = 0;
    for (const CallRow& call : recent) {
        if (++n > m_R)
            break;
        fg->setTextMatrix(n, 1, call.tableLabel());
        fg->setTextMatrix(n, 2, call.counterText());
    }
}

void frmDisplay::Timer1_Timer()
{
    m_feed->pollNow();
}

void frmDisplay::takeCall(const CallRow& call)
{
    Grid* fg = FG();
    if (fg->textMatrix(1, 1) != call.tableLabel()) {
        moveDown();
        fg->setRows(m_R + 1);
        fg->setTextMatrix(1, 1, call.tableLabel());
    }
    // Also for the token already on top: when another counter calls it (after a transfer),
    // the table must send the visitor where the voice does.
    fg->setTextMatrix(1, 2, call.counterText());
    m_lastLabel = call.label;
    m_lastCounter = call.displayName;
    emit callShown(call);
    blink();
    playSound();
    m_announcer.speekNo(call.label, call.displayName);
}

void frmDisplay::moveDown()
{
    Grid* fg = FG();
    Grid* fg1 = FG1();
    for (int i = 1; i <= fg->rows() - 1; ++i) {
        fg1->setTextMatrix(i, 1, fg->textMatrix(i, 1));
        fg1->setTextMatrix(i, 2, fg->textMatrix(i, 2));
    }
    for (int i = 1; i <= fg1->rows() - 2; ++i) {
        fg->setTextMatrix(i + 1, 1, fg1->textMatrix(i, 1));
        fg->setTextMatrix(i + 1, 2, fg1->textMatrix(i, 2));
    }
}

bool frmDisplay::isBlinking() const
{
    return m_timer6->isActive();
}

void frmDisplay::blink()
{
    m_blinkStep = 0;
    m_timer6->start();
    Timer6_Timer();
}

void frmDisplay::Timer6_Timer()
{
    ++m_blinkStep;
    const bool bold = m_blinkStep % 2 == 0;
    FG()->setCellFontBold(1, 1, bold);
    FG()->setCellFontBold(1, 2, bold);
    if (m_blinkStep >= kBlinkSteps) {
        m_timer6->stop();
        m_blinkStep = 0;
    }
}

void frmDisplay::playSound()
{
    if (m_mpSound->status() != QSoundEffect::Error)
        m_mpSound->play();
    emit chimeStarted();
}

} // namespace tallyvo
