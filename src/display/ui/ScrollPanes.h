#pragma once

#include "display/NewsBand.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPixmap>
#include <QWidget>

namespace tallyvo {

// Moves at a steady frame rate by the scroll speed per step. A step is kScrollStepMs long; a
// frame that comes late moves by as many steps as have passed, so the speed on screen stays the
// same whatever else the window is doing.
class ScrollMotion {
public:
    static constexpr int kScrollStepMs = 16;
    // Twips per step (the main window's scroll speed).
    void setSpeed(int twips) { m_speedTwips = twips; }
    int speed() const { return m_speedTwips; }
    // Restarts the time base: the next advance moves by one step.
    void restart();
    // The distance in pixels since the last call, at dpi.
    double advance(qreal dpi);

private:
    int m_speedTwips = 30;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
};

// The title pane lblTtl: the theme's title line, drawn once at its left edge or scrolling. The
// display's frame timer calls Timer2_Timer while it scrolls.
class TitlePane : public QWidget {
    Q_OBJECT
public:
    explicit TitlePane(QWidget* parent = nullptr);

    void setTitle(const QString& text);
    QString title() const { return m_title; }
    void setTextColor(const QColor& color);
    void setBackColor(const QColor& color);
    QColor backColor() const { return m_back; }
    void setTitleFont(const QFont& font);
    // On, the title runs out to the left and re-enters from the right at each frame.
    void setScrolling(bool on);
    bool isScrolling() const { return m_scrolling; }
    void setScrollSpeed(int twips) { m_motion.setSpeed(twips); }
    // The title's left edge in pixels (0 at load).
    double x() const { return m_scroll.x(); }
    // One frame of Timer2.
    void Timer2_Timer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void render();

    QString m_title;
    QColor m_fore = Qt::black;
    QColor m_back = QColor(128, 128, 128);
    QPixmap m_text;
    bool m_drawn = true;
    TitleScroll m_scroll;
    ScrollMotion m_motion;
    bool m_scrolling = false;
};

// The news band: the strip imgBG in the theme's news colour and the message labels lblScroll
// moving over it (see NewsBand). Drawn as one surface so every frame moves all labels together;
// the display's frame timer calls step() while it runs.
class NewsPane : public QWidget {
    Q_OBJECT
public:
    NewsPane(NewsBand::Loader loader, QWidget* parent = nullptr);

    void setStripColor(const QColor& color);
    QColor stripColor() const { return m_strip; }
    void setScrollSpeed(int twips) { m_motion.setSpeed(twips); }

    // Starts or stops the band (the main window's news switch).
    void start();
    void stop();
    bool isRunning() const { return m_band.state() != NewsBand::State::Stopped; }
    const NewsBand& band() const { return m_band; }
    // One frame of the movement, to the left or to the right as the band stands.
    void step();
    // Moves by distance pixels at once, for tests.
    void stepBy(double distance);
    // Frames painted since start, for measuring.
    quint64 frames() const { return m_frames; }

signals:
    void framePainted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double measure(const NewsMessage& message) const;
    QFont fontFor(const NewsMessage& message) const;
    const QPixmap& pictureOf(int label);

    NewsBand m_band;
    ScrollMotion m_motion;
    QColor m_strip = Qt::black;
    QHash<int, QPixmap> m_pictures; // per label, for the loaded chain
    int m_picturesOf = -1;          // band.loads() the pictures belong to
    quint64 m_frames = 0;
};

} // namespace tallyvo
