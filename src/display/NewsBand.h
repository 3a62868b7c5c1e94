#pragma once

#include "display/ThemeData.h"

#include <QList>
#include <functional>

namespace tallyvo {

// The moving part of the news band, without a screen: where each message stands.
//
// The band shows all left-moving messages as one chain entering at the right edge until the last
// has left at the left, then all right-moving ones entering at the left edge until the last has
// left at the right, and so on. The messages are read again at every switch, so a message added
// or switched off while the band runs shows (or goes) at the next switch. With no left-moving
// messages the empty anchor crosses the window leftwards before each right-moving run; with no
// right-moving messages the band goes straight back to the left-moving ones.
//
// Lengths are in one unit of the caller's choice (the window uses pixels).
class NewsBand {
public:
    enum class State { Stopped, MovingLeft, MovingRight };

    // One label: element 0 is the anchor (no message, width 0); 1.. the messages in chain order.
    struct Label {
        NewsMessage message;
        double left = 0;
        double width = 0;
    };

    // loader gives the active messages of "Left" or "Right"; measure the width a message's text
    // takes in its own font.
    using Loader = std::function<QList<NewsMessage>(const QString& direction)>;
    using Measure = std::function<double(const NewsMessage&)>;

    NewsBand(Loader loader, Measure measure);

    void setWindowWidth(double width) { m_windowWidth = width; }
    double windowWidth() const { return m_windowWidth; }
    // The space between two messages of a chain.
    void setGap(double gap) { m_gap = gap; }

    // Loads the left-moving messages at the right edge and starts moving them.
    void start();
    // Stops and removes every message label.
    void stop();
    // Moves the band on by distance (one step moves it by the scroll speed).
    void step(double distance);

    State state() const { return m_state; }
    const QList<Label>& labels() const { return m_labels; }
    bool hasMessages() const { return m_labels.size() > 1; }
    // How many times the messages have been read; the window uses it to refresh its drawings.
    int loads() const { return m_loads; }

private:
    void getSnews();  // left-moving chain from the right edge
    void getSnews1(); // right-moving chain from the left edge
    void load(const QString& direction);
    void resetLbl();
    void resetLbl1();

    Loader m_loader;
    Measure m_measure;
    double m_windowWidth = 0;
    double m_gap = 0;
    State m_state = State::Stopped;
    QList<Label> m_labels;
    int m_loads = 0;
};

// The title line's horizontal position: it starts at the pane's left edge, runs out to the left
// and re-enters from the right.
class TitleScroll {
public:
    double x() const { return m_x; }
    void reset() { m_x = 0; }
    // One move by distance; false when this step only puts the title back at the right edge
    // (nothing is drawn in that step).
    bool step(double distance, double textWidth, double paneWidth);

private:
    double m_x = 0;
};

} // namespace tallyvo
