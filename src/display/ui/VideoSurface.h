#pragma once

#include <QImage>
#include <QVideoFrame>
#include <QWidget>

class QThread;
class QVideoSink;

namespace tallyvo {

// Turns video frames into pictures of a given size off the window's thread. The common decoder
// outputs (planar and semi-planar 4:2:0) are converted and scaled in one pass over the target's
// pixels only; other formats go through Qt's own conversion.
class FrameConverter : public QObject {
    Q_OBJECT
public:
    static QImage toImage(const QVideoFrame& frame, const QSize& bounds);
    void convert(const QVideoFrame& frame, const QSize& bounds, quint64 generation);

signals:
    void converted(const QImage& image, quint64 generation);
};

// Draws the frames of a player or a camera in the window's own painting, fitted to the widget
// with their proportions kept. Frames are converted on a thread of their own; while one is being
// converted only the newest that arrives waits, so a slow conversion drops frames rather than
// holding up the window's other movement.
class VideoSurface : public QWidget {
    Q_OBJECT
public:
    explicit VideoSurface(QWidget* parent = nullptr);
    ~VideoSurface() override;
    QVideoSink* sink() const { return m_sink; }
    void clear();
    // Frames delivered and frames drawn so far.
    quint64 frames() const { return m_frames; }
    quint64 framesShown() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onFrame(const QVideoFrame& frame);
    void send(const QVideoFrame& frame);
    void onConverted(const QImage& image, quint64 generation);

    QVideoSink* m_sink;
    QThread* m_thread;
    FrameConverter* m_converter;
    QImage m_image;
    QVideoFrame m_pending;
    bool m_busy = false;
    quint64 m_generation = 0;
    quint64 m_frames = 0;
    quint64 m_shown = 0;
};

} // namespace tallyvo
