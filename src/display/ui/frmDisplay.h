#pragma once

#include "core/DbUrl.h"
#include "display/CallFeed.h"
#include "display/CallRow.h"
#include "display/ThemeData.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPixmap>
#include <QWidget>
#include <memory>

class QLabel;
class QSoundEffect;
class QTimer;

namespace Ui {
class frmDisplay;
}

namespace tallyvo {

class Announcer;
class ClockPane;
class Clock;
class Database;
class Grid;
class LogoPane;
class MediaPane;
class NewsPane;
class SettingsStore;
class TitlePane;

// What the main window hands a display it starts.
struct DisplayStart {
    int themeKey = 0;     // tbltheme key; a key without a theme leaves the designed look
    int scrollSpeed = 30; // twips per scroll step of the title and the news
    FeedTiming timing;
};

// The public display: a borderless window whose token table FG lists today's calls, newest on
// top. Each call the feed hands over enters row 1 (pushing the others down), blinks, chimes and is
// spoken; a call of the token already on top (a recall) blinks and is announced again without
// moving anything.
//
// Building the window is loading it: it connects, builds itself from the theme (size, screen,
// background, panes, the token table's look), loads the chime and starts the feed on its own
// connection to url. The window never waits for the database: while the connection is down it
// keeps drawing and blinking, and calls made meanwhile arrive when it returns.
//
// Every step of the build that fails (a missing column, a bad number, a missing file) is skipped
// and the build goes on. Without a theme the window keeps its designed look: R = 12 token rows in
// two columns filling the primary screen.
//
// Around the table: the logo (SFLogo), the clock (SFTime, or the text clock lblTime), the title
// (lblTtl), the video pane (VideoCapX: playlist or live input) and the news band (imgBG), which
// the main window starts and stops.
class frmDisplay : public QWidget {
    Q_OBJECT
public:
    // announcer is the main window's: it outlives every display.
    frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
               const DisplayStart& start, QWidget* parent = nullptr);
    // Without a theme (the designed look), scroll speed 30.
    frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
               QWidget* parent = nullptr);
    // For tests and measurements: without a theme, the feed's timing given.
    frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
               const FeedTiming& timing, QWidget* parent = nullptr);
    ~frmDisplay() override;

    // The news band (the main window's "Enable Scroll"): the left-moving messages start at the
    // right edge over the strip in the theme's news colour; stopping empties and hides the band.
    void startNews();
    void stopNews();
    bool isNewsRunning() const;
    // Twips per step for the title and the news, from the next step on.
    void setScrollSpeed(int twips);
    int scrollSpeed() const { return m_scrollSpeed; }

    int themeKey() const { return m_themeKey; }
    // The theme as read at load (found is false without one).
    const ThemeData& theme() const { return m_theme; }
    // 1 when the theme shows its own header captions (enableH), else 0.
    int headerFlag() const { return m_headerFlag; }
    // The clock format the text clock uses (the theme's tformat).
    QString clockFormat() const { return m_clockFormat; }

    // The panes, for the main window's tests and measurements.
    TitlePane* lblTtl() const { return m_lblTtl; }
    NewsPane* newsBand() const { return m_news; }
    MediaPane* videoPane() const { return m_video; }
    LogoPane* SFLogo() const { return m_logo; }
    ClockPane* SFTime() const { return m_clock; }
    QLabel* lblTime() const { return m_lblTime; }
    QWidget* Shape1() const { return m_shape1; }
    // The window's background picture (bgimage), null when the theme has none.
    QPixmap backgroundPicture() const { return m_background; }

    Grid* FG() const;
    Grid* FG1() const;
    CallFeed& feed() const { return *m_feed; }

    // R, the number of token rows; both grids have R + 1 rows (row 0 is the header).
    int R() const { return m_R; }
    // Sets R and gives FG and FG1 R + 1 rows; the layout calls it before the feed starts.
    void setR(int rows);

    // The last call taken, as handed to the announcer.
    QString lastLabel() const { return m_lastLabel; }
    QString lastCounter() const { return m_lastCounter; }
    int blinkStep() const { return m_blinkStep; }
    bool isBlinking() const;

    // Initial fill: today's newest shown calls into rows 1.. in the order given (newest first).
    void addFirst(const QList<tallyvo::CallRow>& recent);
    // One poll: the feed looks for new calls now rather than at its next notification.
    void Timer1_Timer();
    // Puts a call the feed has handed over on the table, tells the feed it is shown and announces it.
    void takeCall(const tallyvo::CallRow& call);
    // Shifts rows 1 .. R-1 down by one (through FG1); row R's old text drops off.
    void moveDown();
    // Starts the ten-step blink of row 1 (a running blink starts over).
    void blink();
    // One blink step: odd steps regular, even steps bold; the tenth ends the blink.
    void Timer6_Timer();
    // Starts the chime and returns at once.
    void playSound();

    // The build steps, run by the load in this order.
    void start();
    void getpos(const ThemePositions& pos);
    void getData();
    // Puts the picture into the header cells (addimg1) or the data cells (addimg2) of the token
    // and counter columns, painted to each cell's size; false when the file is no picture.
    bool addimg1(const QString& path);
    bool addimg2(const QString& path);
    // One refresh of the text clock.
    void Timer3_Timer();

signals:
    // After a call has been put on the table (before it is spoken).
    void callShown(const tallyvo::CallRow& call);
    void chimeStarted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void load(const FeedTiming& timing);
    void applyDefaultLayout();
    void placePanesAsDesigned();
    void buildTable();
    void buildMedia();
    bool addimg(const QString& path, int firstRow, int lastRow);
    int twipsX(double twips) const;
    int twipsY(double twips) const;
    void frame();
    void followMotion();
    bool reachable();
    QList<NewsMessage> readNews(const QString& direction);
    QStringList readPlaylist();

    std::unique_ptr<Ui::frmDisplay> m_ui;
    SettingsStore& m_settings;
    const Clock& m_clockSource;
    Announcer& m_announcer;
    std::unique_ptr<Database> m_db;
    CallFeed* m_feed;
    QSoundEffect* m_mpSound;
    QTimer* m_timer6;
    QTimer* m_timer3;
    QTimer* m_frame;
    LogoPane* m_logo;
    ClockPane* m_clock;
    QLabel* m_lblTime;
    TitlePane* m_lblTtl;
    MediaPane* m_video;
    NewsPane* m_news;
    QWidget* m_shape1;
    QPixmap m_background;
    ThemeData m_theme;
    QHash<QString, QList<NewsMessage>> m_lastNews; // kept for a moment the database is away
    QStringList m_lastPlaylist;
    QElapsedTimer m_lastOpenAttempt;
    QString m_clockFormat;
    int m_themeKey = 0;
    int m_scrollSpeed = 30;
    int m_headerFlag = 0;
    bool m_liveVideo = false;
    int m_newsTop = -1;    // pixels, -1 until the theme places the band
    int m_newsHeight = -1;
    qint16 m_R = 0;
    qint16 m_blinkStep = 0;
    QString m_lastLabel;
    QString m_lastCounter;
};

} // namespace tallyvo
