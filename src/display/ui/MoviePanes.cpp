#include "display/ui/MoviePanes.h"

#include "display/ClockFormat.h"

#include <QFile>
#include <QMovie>
#include <QPainter>
#include <QSvgRenderer>
#include <QTime>
#include <QTimer>

namespace tallyvo {

namespace {

QRect fitted(const QSize& picture, const QRect& pane)
{
    if (picture.isEmpty())
        return {};
    const QSize size = picture.scaled(pane.size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), size);
    r.moveCenter(pane.center());
    return r;
}

} // namespace

LogoPane::LogoPane(QWidget* parent)
    : QWidget(parent)
{
}

bool LogoPane::setMovie(const QString& path)
{
    delete m_movie;
    m_movie = nullptr;
    m_still = QPixmap();
    auto* movie = new QMovie(path, QByteArray(), this);
    if (movie->isValid() && movie->frameCount() != 1) {
        m_movie = movie;
        connect(m_movie, &QMovie::frameChanged, this, qOverload<>(&QWidget::update));
        m_movie->start();
    } else {
        delete movie;
        m_still.load(path);
    }
    update();
    return hasPicture();
}

bool LogoPane::isPlaying() const
{
    return m_movie && m_movie->state() == QMovie::Running;
}

bool LogoPane::hasPicture() const
{
    return m_movie || !m_still.isNull();
}

QPixmap LogoPane::currentPicture() const
{
    return m_movie ? m_movie->currentPixmap() : m_still;
}

void LogoPane::paintEvent(QPaintEvent*)
{
    const QPixmap picture = currentPicture();
    if (picture.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(fitted(picture.size(), rect()), picture);
}

ClockPane::ClockPane(TimeSource now, QWidget* parent)
    : QWidget(parent)
    , m_now(std::move(now))
    , m_renderer(new QSvgRenderer(this))
    , m_tick(new QTimer(this))
{
    // Woken once a second, just after it turns, so a kiosk's clock costs one wake-up a second.
    m_tick->setSingleShot(true);
    m_tick->setTimerType(Qt::PreciseTimer);
    connect(m_tick, &QTimer::timeout, this, [this] {
        const QTime time = m_now();
        if (time.second() != m_shownSecond)
            refresh();
        m_tick->start(msToNextSecond(time));
    });
}

bool ClockPane::setFace(const QString& path)
{
    m_face.clear();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray svg = file.readAll();
        if (QSvgRenderer(svg).isValid())
            m_face = svg;
    }
    refresh();
    return hasFace();
}

void ClockPane::refresh()
{
    const QTime t = m_now();
    m_shownSecond = t.second();
    m_shown = m_face.isEmpty() ? QByteArray() : clockFaceAt(m_face, t);
    m_renderer->load(m_shown);
    update();
}

void ClockPane::showEvent(QShowEvent* event)
{
    if (hasFace())
        m_tick->start(msToNextSecond(m_now()));
    refresh();
    QWidget::showEvent(event);
}

void ClockPane::hideEvent(QHideEvent* event)
{
    m_tick->stop();
    QWidget::hideEvent(event);
}

void ClockPane::paintEvent(QPaintEvent*)
{
    if (!m_renderer->isValid())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    m_renderer->render(&p, QRectF(fitted(m_renderer->defaultSize(), rect())));
}

} // namespace tallyvo
