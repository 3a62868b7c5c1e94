#include "display/ui/frmDisplay.h"

#include "ui_frmDisplay.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "display/ClockFormat.h"
#include "display/ui/MediaPane.h"
#include "display/ui/MoviePanes.h"
#include "display/ui/ScrollPanes.h"
#include "widgets/BgrColor.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"

#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSoundEffect>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>

namespace tallyvo {

namespace {

constexpr int kDefaultRows = 12;
constexpr int kBlinkSteps = 10;
constexpr int kBlinkIntervalMs = 200;
// How often a news band with no news moves on, towards its next read of the news.
constexpr int kEmptyNewsFrameMs = 500;
// The scratch grid is a speck that shows nothing.
constexpr int kScratchWidthTwips = 255;
constexpr int kScratchHeightTwips = 30;
// The news strip's own height when the theme does not place the band.
constexpr int kNewsStripTwips = 615;
// The table frame sits this far outside the table and is this much larger.
constexpr int kFrameOffsetTwips = 10;

// The display's name in the call feed: one per machine and settings folder (so per --profile),
// the same at every start, which lets a restarted display go on where it stopped.
QString feedIdFor(const SettingsStore& settings)
{
    return QSysInfo::machineHostName() + QLatin1Char(':') + settings.folder();
}
constexpr int kFrameGrowTwips = 23;
// Enough for any screen; a theme asking for more rows or columns is mistaken.
constexpr int kMaxCols = 60;
constexpr int kReopenIntervalMs = 60000;
// The window's colour until the theme gives one.
const QColor kDesignedBack(128, 128, 128);

QColor bgr(const std::optional<int>& value)
{
    return value ? colorFromBgr(*value) : QColor();
}

} // namespace

frmDisplay::frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
                       QWidget* parent)
    : frmDisplay(url, settings, clock, announcer, DisplayStart{}, parent)
{
}

frmDisplay::frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
                       const FeedTiming& timing, QWidget* parent)
    : frmDisplay(url, settings, clock, announcer, DisplayStart{0, 30, timing}, parent)
{
}

frmDisplay::frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
                       const DisplayStart& start, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_ui(std::make_unique<Ui::frmDisplay>())
    , m_settings(settings)
    , m_clockSource(clock)
    , m_announcer(announcer)
    , m_db(std::make_unique<Database>(url))
    , m_feed(new CallFeed(url, feedIdFor(settings), clock, this))
    , m_mpSound(new QSoundEffect(this))
    , m_timer6(new QTimer(this))
    , m_timer3(new QTimer(this))
    , m_frame(new QTimer(this))
    , m_themeKey(start.themeKey)
    , m_scrollSpeed(start.scrollSpeed)
{
    m_ui->setupUi(this);
    m_shape1 = new QFrame(this);
    m_shape1->setObjectName(QStringLiteral("Shape1"));
    m_shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_shape1->hide();
    m_news = new NewsPane([this](const QString& direction) { return readNews(direction); }, this);
    m_news->hide();
    m_video = new MediaPane([this] { return readPlaylist(); }, this);
    m_video->hide();
    m_lblTtl = new TitlePane(this);
    m_lblTtl->setObjectName(QStringLiteral("lblTtl"));
    m_lblTtl->hide();
    m_logo = new LogoPane(this);
    m_logo->setObjectName(QStringLiteral("SFLogo"));
    m_logo->hide();
    m_clock = new ClockPane([this] { return m_clockSource.now(); }, this);
    m_clock->setObjectName(QStringLiteral("SFTime"));
    m_clock->hide();
    m_lblTime = new QLabel(this);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblTime->setAlignment(Qt::AlignCenter);
    m_lblTime->hide();
    load(start.timing);
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
    m_timer3->setObjectName(QStringLiteral("Timer3"));
    setAutoFillBackground(true);
    QPalette designed = palette();
    designed.setColor(QPalette::Window, kDesignedBack);
    setPalette(designed);

    // The picture time and the chime first: a missing chime only means no chime.
    bool secondsOk = false;
    const double seconds = m_settings.get(Keys::PicDuration).trimmed().toDouble(&secondsOk);
    m_video->setPictureTime(secondsOk && seconds > 0 ? qint64(seconds * 1000.0) : 0);
    m_mpSound->setSource(QUrl::fromLocalFile(Paths::dataFile(QStringLiteral("ding.wav"))));
    m_mpSound->setVolume(1.0f);

    m_timer6->setInterval(kBlinkIntervalMs);
    connect(m_timer6, &QTimer::timeout, this, &frmDisplay::Timer6_Timer);
    // The text clock wakes once a second, just after it turns.
    m_timer3->setSingleShot(true);
    m_timer3->setTimerType(Qt::PreciseTimer);
    connect(m_timer3, &QTimer::timeout, this, &frmDisplay::Timer3_Timer);
    // One frame timer moves the title and the news together, so each frame is drawn once.
    m_frame->setObjectName(QStringLiteral("tmrFrame"));
    m_frame->setTimerType(Qt::PreciseTimer);
    m_frame->setInterval(ScrollMotion::kScrollStepMs);
    connect(m_frame, &QTimer::timeout, this, &frmDisplay::frame);
    m_lblTtl->setScrollSpeed(m_scrollSpeed);
    m_news->setScrollSpeed(m_scrollSpeed);

    Grid* fg = FG();
    fg->setHighlight(Grid::Highlight::Never);
    fg->setFocusPolicy(Qt::NoFocus);
    fg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FG1()->resize(twipsToPixels(kScratchWidthTwips, logicalDpiX()), twipsToPixels(kScratchHeightTwips, logicalDpiY()));

    // A display that cannot reach the database still comes up, in its designed look.
    m_liveVideo = m_settings.get(Keys::VideoIn) == QLatin1String("1");
    if (m_themeKey != 0 && reachable())
        m_theme = ThemeLoader::loadTheme(*m_db, m_themeKey);
    if (m_theme.found)
        start();
    else
        applyDefaultLayout();
    getData();
    // The speech rate is taken afresh at every display start.
    m_announcer.readRate();

    connect(m_feed, &CallFeed::recentCalls, this, &frmDisplay::addFirst);
    connect(m_feed, &CallFeed::callArrived, this, &frmDisplay::takeCall);
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

int frmDisplay::twipsX(double twips) const
{
    return twipsToPixels(twips, logicalDpiX());
}

int frmDisplay::twipsY(double twips) const
{
    return twipsToPixels(twips, logicalDpiY());
}

void frmDisplay::applyDefaultLayout()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    setGeometry(area);

    Grid* fg = FG();
    fg->setGeometry(rect());
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
    // The news band, when started, runs along the bottom edge.
    m_newsHeight = twipsY(kNewsStripTwips);
    m_newsTop = height() - m_newsHeight;
}

// Where the panes stand when the theme has no positions: logo, title and clock along the top,
// table and video side by side, the news band along the bottom.
void frmDisplay::placePanesAsDesigned()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    setGeometry(area);
    const int w = area.width();
    const int h = area.height();
    auto at = [&](double x, double y, double pw, double ph) {
        return QRect(int(x * w), int(y * h), int(pw * w), int(ph * h));
    };
    m_logo->setGeometry(at(0.01, 0.01, 0.16, 0.12));
    m_clock->setGeometry(at(0.81, 0.01, 0.18, 0.12));
    m_lblTime->setGeometry(m_clock->geometry());
    m_lblTtl->setGeometry(at(0.19, 0.02, 0.60, 0.10));
    FG()->setGeometry(at(0.01, 0.15, 0.46, 0.68));
    m_video->setGeometry(at(0.49, 0.15, 0.50, 0.68));
    m_newsHeight = twipsY(kNewsStripTwips);
    m_newsTop = h - m_newsHeight;
}

void frmDisplay::start()
{
    const ThemeData& t = m_theme;
    // 1. Panes and window.
    placePanesAsDesigned();
    if (m_db->isOpen()) {
        if (const std::optional<ThemePositions> pos = ThemeLoader::loadPositions(*m_db, m_themeKey))
            getpos(*pos);
    }

    // 2. Title.
    if (!t.ttlname.isEmpty()) {
        m_lblTtl->setTitle(t.ttlname);
        m_lblTtl->show();
        QFont f = m_lblTtl->font();
        if (!t.ttlfont.isEmpty())
            f.setFamily(t.ttlfont);
        if (t.ttlsize && *t.ttlsize > 0)
            f.setPointSizeF(*t.ttlsize);
        m_lblTtl->setTitleFont(f);
        m_lblTtl->setTextColor(bgr(t.ttlcolor));
    } else {
        m_lblTtl->hide();
    }

    // 3. Clock and logo.
    if (t.displaytime == 1 && !t.clockfile.isEmpty()) {
        m_timer3->stop();
        m_lblTime->hide();
        m_clock->show();
        m_clock->setFace(Paths::dataFile(QStringLiteral("files/clock/") + t.clockfile));
        m_clock->raise();
    } else if (t.displaytime == 1) {
        m_clock->hide();
        QFont f = m_lblTime->font();
        if (!t.fonttime.isEmpty())
            f.setFamily(t.fonttime);
        f.setBold(true);
        if (t.sizetime && *t.sizetime > 0)
            f.setPointSizeF(*t.sizetime);
        m_lblTime->setFont(f);
        const QColor color = bgr(t.clrtime);
        if (color.isValid())
            m_lblTime->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(color.name()));
        m_clockFormat = t.tformat;
        m_lblTime->show();
        Timer3_Timer();
    } else {
        m_timer3->stop();
        m_clock->hide();
        m_lblTime->hide();
    }
    if (!t.logo.isEmpty()) {
        m_logo->show();
        m_logo->setMovie(t.logo);
        m_logo->raise();
    } else {
        m_logo->hide();
    }

    // 4. Background: a picture at its own size from the top-left corner, or the screen colour.
    // The title takes the window's colour, which stays the designed grey under a picture.
    if (!t.bgimage.isEmpty()) {
        m_background.load(t.bgimage);
        update();
    } else if (const QColor screen = bgr(t.screenclr); screen.isValid()) {
        QPalette p = palette();
        p.setColor(QPalette::Window, screen);
        setPalette(p);
    }
    m_lblTtl->setBackColor(palette().color(QPalette::Window));

    buildTable();
    buildMedia();
}

void frmDisplay::getpos(const ThemePositions& pos)
{
    // Each value is stored at half scale. A missing value ends the placement: the panes after
    // it keep their designed places.
    auto place = [this](const ThemePositions::Rect& r, std::initializer_list<QWidget*> panes) {
        if (!r.complete())
            return false;
        const QRect g(twipsX(*r.left * 2), twipsY(*r.top * 2), twipsX(*r.width * 2), twipsY(*r.height * 2));
        for (QWidget* pane : panes)
            pane->setGeometry(g);
        return true;
    };
    if (!place(pos.logo, {m_logo}) || !place(pos.time, {m_clock, m_lblTime}))
        return;

    QList<QRect> screens;
    int primary = 0;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (qsizetype i = 0; i < all.size(); ++i) {
        screens << all.at(i)->geometry();
        if (all.at(i) == QGuiApplication::primaryScreen())
            primary = int(i);
    }
    const QPoint origin = displayOrigin(m_settings.get(Keys::ThemeScreen), screens, primary);
    move(origin);

    if (!pos.mewidth || !pos.meheight)
        return;
    resize(twipsX(*pos.mewidth * 2), twipsY(*pos.meheight * 2));
    if (!place(pos.table, {FG()}))
        return;
    if (!place(pos.title, {m_lblTtl}))
        return;
    m_lblTtl->setBackColor(palette().color(QPalette::Window));
    // The video pane and the news band are placed here too, so they stay with the theme.
    place(pos.video, {m_video});
    if (pos.newstop && pos.newsheight) {
        m_newsTop = twipsY(*pos.newstop * 2);
        m_newsHeight = twipsY(*pos.newsheight * 2);
    }
}

void frmDisplay::buildTable()
{
    const ThemeData& t = m_theme;
    Grid* fg = FG();
    // 5. Columns, 6. rows and header captions, 7. the scratch grid.
    if (t.colums)
        fg->setCols(std::clamp(*t.colums + 1, 2, kMaxCols));
    setR(t.rows ? *t.rows : kDefaultRows);
    if (t.enableH == 1) {
        fg->setTextMatrix(0, 1, t.Column1);
        fg->setTextMatrix(0, 2, t.Column2);
        m_headerFlag = 1;
    } else {
        m_headerFlag = 0;
    }
    // 8. Colours.
    if (const QColor line = bgr(t.linecolor); line.isValid()) {
        fg->setGridColor(line);
        fg->setGridColorFixed(line);
    }
    if (const QColor back = bgr(t.backgroundclr); back.isValid()) {
        fg->setBackColorBkg(back);
        fg->setBackColor(back);
    }
    if (const QColor header = bgr(t.hdclrbg); header.isValid())
        fg->setBackColorFixed(header);
    // 9. Every row at least twice the stored height.
    if (t.rowheight && *t.rowheight >= 0)
        fg->setRowHeightMin(int(std::lround(*t.rowheight * 2)));
    // 10. Widths.
    const int cols = fg->cols();
    fg->setColWidth(0, 1);
    if (t.colwidth) {
        const QStringList parts = t.colwidth->split(QLatin1Char(';'));
        for (int i = 1; i <= cols - 1 && i - 1 < parts.size(); ++i) {
            bool ok = false;
            const double width = parts.at(i - 1).trimmed().toDouble(&ok);
            if (ok && width >= 0)
                fg->setColWidth(i, int(std::lround(width * 2)));
        }
    }
    // 11. Alternate rows.
    if (const QColor alt = bgr(t.altcolr); alt.isValid()) {
        for (int r = 1; r <= m_R; r += 2) {
            for (int c = 1; c <= cols - 1; ++c)
                fg->setCellBackColor(r, c, alt);
        }
    }
    // 12. Token column, 14. counter column.
    auto styleColumn = [&](int col, const QString& font, const std::optional<double>& size,
                           const std::optional<int>& color) {
        const QColor fore = bgr(color);
        for (int r = 1; r <= m_R; ++r) {
            if (!font.isEmpty())
                fg->setCellFontName(r, col, font);
            if (size && *size > 0)
                fg->setCellFontSize(r, col, *size);
            fg->setCellFontBold(r, col, true);
            if (fore.isValid())
                fg->setCellForeColor(r, col, fore);
        }
    };
    styleColumn(1, t.fntcrr, t.sizecrr, t.clrcrr);
    // 13. Header font and colour, only for the theme's own captions.
    if (m_headerFlag == 1) {
        for (int c = 1; c <= cols - 1; ++c) {
            if (!t.hdfont.isEmpty())
                fg->setCellFontName(0, c, t.hdfont);
            if (t.hdfntsize && *t.hdfntsize > 0)
                fg->setCellFontSize(0, c, *t.hdfntsize);
            fg->setCellFontBold(0, c, true);
        }
        if (const QColor color = bgr(t.hdfntclr); color.isValid())
            fg->setForeColorFixed(color);
    }
    styleColumn(2, t.fntval, t.sizeval, t.clrval);
    // 15. Cell pictures.
    if (!t.img1.isEmpty())
        addimg1(t.img1);
    if (!t.img2.isEmpty())
        addimg2(t.img2);
    // 16. Line width, 17. the frame around the table in the line colour.
    if (t.linewidth && *t.linewidth >= 0)
        fg->setGridLineWidth(std::min(*t.linewidth, 50));
    const int frameWidth = t.linewidth ? std::clamp(*t.linewidth, 0, 50) : 1;
    const QRect table = fg->geometry();
    const int offset = twipsX(kFrameOffsetTwips);
    m_shape1->setGeometry(table.x() - offset, table.y() - twipsY(kFrameOffsetTwips),
                          table.width() + twipsX(kFrameGrowTwips), table.height() + twipsY(kFrameGrowTwips));
    m_shape1->setStyleSheet(QStringLiteral("QFrame#Shape1 { border: %1px solid %2; background: transparent; }")
                                .arg(frameWidth)
                                .arg(fg->gridColor().name()));
    m_shape1->show();
    m_shape1->stackUnder(fg);
}

void frmDisplay::buildMedia()
{
    const ThemeData& t = m_theme;
    // 18. Video pane: the live input wins over the playlist.
    if (m_liveVideo) {
        m_video->show();
        m_video->startLive(m_settings.getInt(Keys::VideoSource));
    } else if (t.enablemovie == 1) {
        m_video->show();
        m_video->startPlaylist(t.volume ? *t.volume : 0);
    } else {
        m_video->hide();
    }
    m_lblTtl->setScrolling(t.scroll == 1);
    followMotion();
    if (const QColor news = bgr(t.newsBG); news.isValid())
        m_news->setStripColor(news);
}

void frmDisplay::getData()
{
    if (!m_theme.found || !m_db->isOpen())
        return;
    const std::optional<QStringList> captions = ThemeLoader::loadHeader(*m_db, m_themeKey);
    if (!captions)
        return;
    for (int i = 1; i <= FG()->cols() - 1 && i - 1 < captions->size(); ++i)
        FG()->setTextMatrix(0, i, captions->at(i - 1));
}

bool frmDisplay::addimg1(const QString& path)
{
    return addimg(path, 0, 0);
}

bool frmDisplay::addimg2(const QString& path)
{
    return addimg(path, 1, m_R);
}

bool frmDisplay::addimg(const QString& path, int firstRow, int lastRow)
{
    const QImage picture = QImageReader(path).read();
    if (picture.isNull())
        return false;
    Grid* fg = FG();
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = 1; c <= 2 && c < fg->cols(); ++c) {
            const QSize cell(std::max(1, twipsX(fg->colWidth(c))), std::max(1, twipsY(fg->rowHeight(r))));
            fg->setCellPicture(r, c, QPixmap::fromImage(picture.scaled(cell, Qt::IgnoreAspectRatio,
                                                                       Qt::SmoothTransformation)));
        }
    }
    return true;
}

void frmDisplay::Timer3_Timer()
{
    const QDateTime now(m_clockSource.today(), m_clockSource.now());
    m_lblTime->setText(now.toString(qtClockFormat(m_clockFormat)));
    m_timer3->start(msToNextSecond(now.time()));
}

void frmDisplay::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!m_background.isNull()) {
        QPainter p(this);
        p.drawPixmap(0, 0, m_background);
    }
}

void frmDisplay::startNews()
{
    // The strip runs the whole width of the window at the theme's news top.
    m_news->setGeometry(0, m_newsTop >= 0 ? m_newsTop : height() - twipsY(kNewsStripTwips), width(),
                        m_newsHeight > 0 ? m_newsHeight : twipsY(kNewsStripTwips));
    m_news->start();
    m_news->lower();
    followMotion();
}

void frmDisplay::stopNews()
{
    m_news->stop();
    followMotion();
}

void frmDisplay::frame()
{
    if (m_lblTtl->isScrolling() && m_lblTtl->isVisible())
        m_lblTtl->Timer2_Timer();
    if (m_news->isRunning()) {
        m_news->step();
        // The band may have read news, or run out of it.
        followMotion();
    }
}

void frmDisplay::followMotion()
{
    const bool title = m_lblTtl->isScrolling();
    const bool news = m_news->isRunning();
    if (!title && !news) {
        m_frame->stop();
        return;
    }
    // A band without news draws nothing while it waits for its next read of the news: the
    // timer then only keeps the time of that read, and the band moves by the time passed.
    const int interval =
        title || m_news->band().hasMessages() ? ScrollMotion::kScrollStepMs : kEmptyNewsFrameMs;
    if (m_frame->interval() != interval)
        m_frame->setInterval(interval);
    if (!m_frame->isActive())
        m_frame->start();
}

bool frmDisplay::isNewsRunning() const
{
    return m_news->isRunning();
}

void frmDisplay::setScrollSpeed(int twips)
{
    m_scrollSpeed = twips;
    m_lblTtl->setScrollSpeed(twips);
    m_news->setScrollSpeed(twips);
}

bool frmDisplay::reachable()
{
    if (m_db->isOpen())
        return true;
    // Opening may wait for the server; while it is away, the window tries at most once a minute
    // so that the news and the playlist keep moving with what they last read.
    if (m_lastOpenAttempt.isValid() && m_lastOpenAttempt.elapsed() < kReopenIntervalMs)
        return false;
    m_lastOpenAttempt.start();
    return m_db->open();
}

QList<NewsMessage> frmDisplay::readNews(const QString& direction)
{
    try {
        if (reachable()) {
            QList<NewsMessage> messages = ThemeLoader::loadNews(*m_db, direction);
            m_lastNews.insert(direction, messages);
            return messages;
        }
    } catch (const DbError&) {
        m_db->close();
    }
    return m_lastNews.value(direction);
}

QStringList frmDisplay::readPlaylist()
{
    try {
        if (reachable()) {
            m_lastPlaylist = ThemeLoader::loadPlaylist(*m_db);
            return m_lastPlaylist;
        }
    } catch (const DbError&) {
        m_db->close();
    }
    return m_lastPlaylist;
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
    m_feed->markShown(call);
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
