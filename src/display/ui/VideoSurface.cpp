#include "display/ui/VideoSurface.h"

#include <QPainter>
#include <QThread>
#include <QVideoSink>
#include <vector>

namespace tallyvo {

namespace {

inline uchar clamp255(int v)
{
    return uchar(v < 0 ? 0 : v > 255 ? 255 : v);
}

// BT.601 video range, as decoders give unless they say otherwise.
inline QRgb yuvToRgb(int y, int u, int v)
{
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128;
    const int e = v - 128;
    return qRgb(clamp255((c + 409 * e) >> 8), clamp255((c - 100 * d - 208 * e) >> 8), clamp255((c + 516 * d) >> 8));
}

} // namespace

QImage FrameConverter::toImage(const QVideoFrame& source, const QSize& bounds)
{
    if (!source.isValid() || bounds.isEmpty())
        return {};
    const QSize in = source.size();
    const QSize wanted = in.scaled(bounds, Qt::KeepAspectRatio);
    if (in.isEmpty() || wanted.isEmpty())
        return {};
    // A small video is converted as it is and enlarged smoothly; a large one is sampled down
    // while it is converted, touching only the pixels that are shown.
    const bool enlarge = wanted.width() > in.width();
    const QSize out = enlarge ? in : wanted;
    const QVideoFrameFormat::PixelFormat format = source.pixelFormat();
    const bool planar = format == QVideoFrameFormat::Format_YUV420P || format == QVideoFrameFormat::Format_YV12;
    const bool semiPlanar = format == QVideoFrameFormat::Format_NV12 || format == QVideoFrameFormat::Format_NV21;
    if (!planar && !semiPlanar)
        return source.toImage().scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QVideoFrame frame(source);
    if (!frame.map(QVideoFrame::ReadOnly))
        return {};
    QImage image(out, QImage::Format_RGB32);
    std::vector<int> columns(size_t(out.width()));
    for (int x = 0; x < out.width(); ++x)
        columns[size_t(x)] = int(qint64(x) * in.width() / out.width());
    const uchar* yPlane = frame.bits(0);
    const int yStride = frame.bytesPerLine(0);
    const uchar* uPlane = frame.bits(1);
    const int uStride = frame.bytesPerLine(1);
    const uchar* vPlane = planar ? frame.bits(2) : nullptr;
    const int vStride = planar ? frame.bytesPerLine(2) : 0;
    if (format == QVideoFrameFormat::Format_YV12)
        std::swap(uPlane, vPlane);
    for (int y = 0; y < out.height(); ++y) {
        const int sy = int(qint64(y) * in.height() / out.height());
        const uchar* yRow = yPlane + qsizetype(sy) * yStride;
        const uchar* uRow = uPlane + qsizetype(sy / 2) * uStride;
        const uchar* vRow = planar ? vPlane + qsizetype(sy / 2) * vStride : nullptr;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int sx = columns[size_t(x)];
            int u;
            int v;
            if (planar) {
                u = uRow[sx / 2];
                v = vRow[sx / 2];
            } else {
                u = uRow[(sx / 2) * 2];
                v = uRow[(sx / 2) * 2 + 1];
                if (format == QVideoFrameFormat::Format_NV21)
                    std::swap(u, v);
            }
            line[x] = yuvToRgb(yRow[sx], u, v);
        }
    }
    frame.unmap();
    return enlarge ? image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation) : image;
}

void FrameConverter::convert(const QVideoFrame& frame, const QSize& bounds, quint64 generation)
{
    emit converted(toImage(frame, bounds), generation);
}

VideoSurface::VideoSurface(QWidget* parent)
    : QWidget(parent)
    , m_sink(new QVideoSink(this))
    , m_thread(new QThread(this))
    , m_converter(new FrameConverter)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_converter->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_converter, &QObject::deleteLater);
    connect(m_converter, &FrameConverter::converted, this, &VideoSurface::onConverted);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, &VideoSurface::onFrame);
    m_thread->start();
}

VideoSurface::~VideoSurface()
{
    m_thread->quit();
    m_thread->wait();
}

void VideoSurface::onFrame(const QVideoFrame& frame)
{
    ++m_frames;
    if (m_busy)
        m_pending = frame;
    else
        send(frame);
}

void VideoSurface::send(const QVideoFrame& frame)
{
    m_busy = true;
    m_pending = QVideoFrame();
    FrameConverter* converter = m_converter;
    const QSize bounds = size();
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        converter, [converter, frame, bounds, generation] { converter->convert(frame, bounds, generation); },
        Qt::QueuedConnection);
}

void VideoSurface::onConverted(const QImage& image, quint64 generation)
{
    m_busy = false;
    if (generation == m_generation && !image.isNull()) {
        m_image = image;
        ++m_shown;
        update();
    }
    if (m_pending.isValid())
        send(m_pending);
}

void VideoSurface::clear()
{
    ++m_generation;
    m_pending = QVideoFrame();
    m_image = QImage();
    update();
}

void VideoSurface::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (m_image.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    QRect target(QPoint(0, 0), m_image.size().scaled(size(), Qt::KeepAspectRatio));
    target.moveCenter(rect().center());
    // Black bars beside the picture only: the picture area is painted over anyway.
    for (const QRect& r : QRegion(rect()).subtracted(target))
        p.fillRect(r, Qt::black);
    if (target.size() == m_image.size())
        p.drawImage(target.topLeft(), m_image);
    else
        p.drawImage(target, m_image);
}

} // namespace tallyvo
