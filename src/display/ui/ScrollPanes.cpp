#include "display/ui/ScrollPanes.h"

#include "widgets/BgrColor.h"
#include "widgets/Twips.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

namespace tallyvo {

namespace {

// The gap between two messages of a chain.
constexpr int kNewsGapTwips = 100;

} // namespace

void ScrollMotion::restart()
{
    m_clock.start();
    m_lastNs = -qint64(kScrollStepMs) * 1000000;
}

double ScrollMotion::advance(qreal dpi)
{
    if (!m_clock.isValid())
        restart();
    const qint64 now = m_clock.nsecsElapsed();
    const double steps = double(now - m_lastNs) / (kScrollStepMs * 1e6);
    m_lastNs = now;
    return m_speedTwips * steps * detail::usableDpi(dpi) / kTwipsPerInch;
}

TitlePane::TitlePane(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TitlePane::setTitle(const QString& text)
{
    m_title = text;
    render();
}

void TitlePane::setTextColor(const QColor& color)
{
    if (color.isValid()) {
        m_fore = color;
        render();
    }
}

void TitlePane::setBackColor(const QColor& color)
{
    if (color.isValid()) {
        m_back = color;
        update();
    }
}

void TitlePane::setTitleFont(const QFont& font)
{
    setFont(font);
    render();
}

void TitlePane::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        render();
    QWidget::changeEvent(event);
}

void TitlePane::render()
{
    const QFontMetricsF metrics(font());
    const QSize size(int(std::ceil(metrics.horizontalAdvance(m_title))) + 2, int(std::ceil(metrics.height())));
    m_text = QPixmap(size.expandedTo(QSize(1, 1)));
    m_text.fill(Qt::transparent);
    QPainter p(&m_text);
    p.setFont(font());
    p.setPen(m_fore);
    p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignTop, m_title);
    update();
}

void TitlePane::setScrolling(bool on)
{
    m_scroll.reset();
    m_drawn = true;
    m_scrolling = on;
    m_motion.restart();
    update();
}

void TitlePane::Timer2_Timer()
{
    m_drawn = m_scroll.step(m_motion.advance(logicalDpiX()), m_text.width(), width());
    update();
}

void TitlePane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_back);
    if (m_drawn)
        p.drawPixmap(QPointF(std::round(m_scroll.x()), 0), m_text);
}

NewsPane::NewsPane(NewsBand::Loader loader, QWidget* parent)
    : QWidget(parent)
    , m_band(std::move(loader), [this](const NewsMessage& m) { return measure(m); })
{
    setObjectName(QStringLiteral("imgBG"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void NewsPane::setStripColor(const QColor& color)
{
    if (color.isValid()) {
        m_strip = color;
        update();
    }
}

QFont NewsPane::fontFor(const NewsMessage& message) const
{
    QFont f = font();
    if (!message.fontName.isEmpty())
        f.setFamily(message.fontName);
    if (message.fontSize && *message.fontSize > 0)
        f.setPointSizeF(*message.fontSize);
    f.setBold(message.bold);
    f.setItalic(message.italic);
    return f;
}

double NewsPane::measure(const NewsMessage& message) const
{
    return std::ceil(QFontMetricsF(fontFor(message)).horizontalAdvance(message.text));
}

void NewsPane::start()
{
    m_band.setWindowWidth(width());
    m_band.setGap(twipsToPixels(kNewsGapTwips, logicalDpiX()));
    m_band.start();
    m_motion.restart();
    m_frames = 0;
    show();
    update();
}

void NewsPane::stop()
{
    m_band.stop();
    m_pictures.clear();
    hide();
}

void NewsPane::step()
{
    stepBy(m_motion.advance(logicalDpiX()));
}

void NewsPane::stepBy(double distance)
{
    m_band.setWindowWidth(width());
    m_band.step(distance);
    update();
}

const QPixmap& NewsPane::pictureOf(int label)
{
    if (m_picturesOf != m_band.loads()) {
        m_pictures.clear();
        m_picturesOf = m_band.loads();
    }
    auto it = m_pictures.find(label);
    if (it != m_pictures.end())
        return *it;
    const NewsMessage& m = m_band.labels().at(label).message;
    const QFont f = fontFor(m);
    const QFontMetricsF metrics(f);
    const QSize size(int(m_band.labels().at(label).width) + 2, int(std::ceil(metrics.height())) + 2);
    QPixmap picture(size.expandedTo(QSize(1, 1)));
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setFont(f);
    const QColor color = m.color ? colorFromBgr(*m.color) : QColor();
    p.setPen(color.isValid() ? color : QColor(Qt::black));
    p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignVCenter, m.text);
    return *m_pictures.insert(label, picture);
}

void NewsPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_strip);
    const QList<NewsBand::Label>& labels = m_band.labels();
    for (int i = 1; i < labels.size(); ++i) {
        const NewsBand::Label& label = labels.at(i);
        if (label.left >= width() || label.left + label.width <= 0)
            continue;
        const QPixmap& picture = pictureOf(i);
        p.drawPixmap(QPointF(std::round(label.left), std::round((height() - picture.height()) / 2.0)), picture);
    }
    ++m_frames;
    emit framePainted();
}

} // namespace tallyvo
