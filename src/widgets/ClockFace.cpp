#include "widgets/ClockFace.h"

#include <QFileInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>

namespace tallyvo {

namespace {
const QString kFace = QStringLiteral("face");
const QString kHour = QStringLiteral("hour");
const QString kMinute = QStringLiteral("minute");
const QString kSecond = QStringLiteral("second");
const QString kCap = QStringLiteral("cap");
} // namespace

ClockFace::ClockFace() = default;
ClockFace::~ClockFace() = default;

bool ClockFace::load(const QString& file)
{
    m_file = file;
    m_svg.reset();
    if (!QFileInfo(file).isFile())
        return false;
    auto svg = std::make_unique<QSvgRenderer>(file);
    if (!svg->isValid())
        return false;
    m_svg = std::move(svg);
    return true;
}

bool ClockFace::isValid() const
{
    return m_svg && m_svg->isValid();
}

double ClockFace::hourAngle(const QTime& t)
{
    return (t.hour() % 12) * 30.0 + t.minute() * 0.5 + t.second() / 120.0;
}

double ClockFace::minuteAngle(const QTime& t)
{
    return t.minute() * 6.0 + t.second() * 0.1;
}

double ClockFace::secondAngle(const QTime& t)
{
    return t.second() * 6.0;
}

void ClockFace::paint(QPainter& painter, const QRectF& target, const QTime& time) const
{
    if (!isValid())
        return;
    const QRectF box = m_svg->viewBoxF();
    if (box.isEmpty())
        return;
    const double scale = std::min(target.width() / box.width(), target.height() / box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.center());
    painter.scale(scale, scale);
    painter.translate(-box.center());

    // Elements are drawn in view box units: bounds of an element are where it already sits.
    auto draw = [&](const QString& id, double angle) {
        if (!m_svg->elementExists(id))
            return;
        painter.save();
        if (angle != 0.0) {
            painter.translate(box.center());
            painter.rotate(angle);
            painter.translate(-box.center());
        }
        m_svg->render(&painter, id, m_svg->boundsOnElement(id));
        painter.restore();
    };
    if (m_svg->elementExists(kFace))
        draw(kFace, 0);
    else
        m_svg->render(&painter, box);
    draw(kHour, hourAngle(time));
    draw(kMinute, minuteAngle(time));
    draw(kSecond, secondAngle(time));
    draw(kCap, 0);
    painter.restore();
}

ClockView::ClockView(QWidget* parent)
    : QWidget(parent)
    , m_tick(new QTimer(this))
{
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

ClockView::~ClockView() = default;

bool ClockView::setFile(const QString& file)
{
    const bool ok = m_face.load(file);
    if (ok && m_fixed.isNull())
        m_tick->start();
    else
        m_tick->stop();
    update();
    return ok;
}

void ClockView::setTime(const QTime& time)
{
    m_fixed = time;
    if (m_fixed.isNull() && m_face.isValid())
        m_tick->start();
    else
        m_tick->stop();
    update();
}

void ClockView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_face.paint(painter, QRectF(rect()).adjusted(4, 4, -4, -4),
                 m_fixed.isNull() ? QTime::currentTime() : m_fixed);
}

} // namespace tallyvo
