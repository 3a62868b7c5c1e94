#pragma once

#include "core/DbUrl.h"
#include "display/CallRow.h"

#include <QWidget>
#include <memory>

class QSoundEffect;
class QTimer;

namespace Ui {
class frmDisplay;
}

namespace tallyvo {

class Announcer;
class CallFeed;
class Clock;
class Grid;
class SettingsStore;
struct FeedTiming;

// The public display: a borderless window whose token table FG lists today's calls, newest on
// top. Each call the feed takes enters row 1 (pushing the others down), blinks, chimes and is
// spoken; a call of the token already on top (a recall) blinks and is announced again without
// moving anything.
//
// Building the window is loading it: it lays itself out, loads the chime and starts the feed
// on its own connection to url. The window never waits for the database: while the connection
// is down it keeps drawing and blinking, and calls made meanwhile arrive when it returns.
//
// Until the theme build exists the window uses a default layout: R = 12 token rows in two
// columns filling the window.
class frmDisplay : public QWidget {
    Q_OBJECT
public:
    // announcer is the main window's: it outlives every display.
    frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
               QWidget* parent = nullptr);
    // For tests and measurements: the same with the feed's timing given.
    frmDisplay(const DbUrl& url, SettingsStore& settings, const Clock& clock, Announcer& announcer,
               const FeedTiming& timing, QWidget* parent = nullptr);
    ~frmDisplay() override;

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
    // One poll: the feed looks for an unshown call now rather than at its next check.
    void Timer1_Timer();
    // Puts a call the feed has taken on the table and announces it.
    void takeCall(const tallyvo::CallRow& call);
    // Shifts rows 1 .. R-1 down by one (through FG1); row R's old text drops off.
    void moveDown();
    // Starts the ten-step blink of row 1 (a running blink starts over).
    void blink();
    // One blink step: odd steps regular, even steps bold; the tenth ends the blink.
    void Timer6_Timer();
    // Starts the chime and returns at once.
    void playSound();

signals:
    // After a call has been put on the table (before it is spoken).
    void callShown(const tallyvo::CallRow& call);
    void chimeStarted();

private:
    void load(const FeedTiming& timing);
    void applyDefaultLayout();

    std::unique_ptr<Ui::frmDisplay> m_ui;
    SettingsStore& m_settings;
    Announcer& m_announcer;
    CallFeed* m_feed;
    QSoundEffect* m_mpSound;
    QTimer* m_timer6;
    qint16 m_R = 0;
    qint16 m_blinkStep = 0;
    QString m_lastLabel;
    QString m_lastCounter;
};

} // namespace tallyvo
