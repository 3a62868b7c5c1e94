#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QWidget>
#include <functional>

class QMovie;
class QSvgRenderer;
class QTimer;

namespace tallyvo {

// The logo pane SFLogo: an animated picture (GIF, animated PNG or WebP) played in a loop, or a
// still picture, fitted to the pane keeping its proportions, over the window's background. A
// file no reader understands (a Flash movie among them) shows nothing.
class LogoPane : public QWidget {
    Q_OBJECT
public:
    explicit LogoPane(QWidget* parent = nullptr);

    // Loads and plays path; false when nothing in it can be shown.
    bool setMovie(const QString& path);
    bool isPlaying() const;
    bool hasPicture() const;
    QPixmap currentPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QMovie* m_movie = nullptr;
    QPixmap m_still;
};

// The clock movie SFTime: an SVG clock face whose hour, minute and second hands are turned to the
// time of day, redrawn each second. A face that cannot be read shows nothing.
class ClockPane : public QWidget {
    Q_OBJECT
public:
    using TimeSource = std::function<QTime()>;
    ClockPane(TimeSource now, QWidget* parent = nullptr);

    bool setFace(const QString& path);
    bool hasFace() const { return !m_face.isEmpty(); }
    // The face as last drawn, hands turned.
    QByteArray shownFace() const { return m_shown; }
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    TimeSource m_now;
    QByteArray m_face;
    QByteArray m_shown;
    QSvgRenderer* m_renderer;
    QTimer* m_tick;
    int m_shownSecond = -1;
};

} // namespace tallyvo
