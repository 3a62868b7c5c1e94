#include "shell/frmSplash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace tallyvo {

namespace {

// The splash picture: drawn here rather than shipped, so it scales with the screen's pixel ratio.
QPixmap splashPicture(const QSize& size, qreal ratio)
{
    QPixmap pix(size * ratio);
    pix.setDevicePixelRatio(ratio);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, size.height());
    bg.setColorAt(0, QColor(0x1d, 0x3b, 0x5a));
    bg.setColorAt(1, QColor(0x0e, 0x1c, 0x2b));
    p.fillRect(QRect(QPoint(0, 0), size), bg);

    // A ticket with its token number: what the program is about, at a glance.
    const QRectF ticket(36, 56, 120, 150);
    QPainterPath shape;
    shape.addRoundedRect(ticket, 10, 10);
    p.fillPath(shape, QColor(0xf6, 0xf3, 0xe8));
    p.setPen(QPen(QColor(0x9a, 0xa7, 0xb4), 1.5, Qt::DashLine));
    p.drawLine(QPointF(ticket.left() + 10, ticket.top() + 46), QPointF(ticket.right() - 10, ticket.top() + 46));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(13);
    p.setFont(small);
    p.setPen(QColor(0x44, 0x4f, 0x5a));
    p.drawText(QRectF(ticket.left(), ticket.top() + 12, ticket.width(), 24), Qt::AlignCenter,
               QObject::tr("Your token"));
    QFont big(QStringLiteral("DejaVu Sans"));
    big.setPixelSize(46);
    big.setBold(true);
    p.setFont(big);
    p.setPen(QColor(0xc8, 0x4b, 0x1e));
    p.drawText(QRectF(ticket.left(), ticket.top() + 56, ticket.width(), 70), Qt::AlignCenter, QStringLiteral("A7"));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(184, 70, size.width() - 200, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tallyvo"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(15);
    p.setFont(sub);
    p.setPen(QColor(0xc9, 0xd6, 0xe3));
    p.drawText(QRectF(186, 132, size.width() - 200, 60), Qt::AlignLeft | Qt::TextWordWrap,
               QObject::tr("Tokens, counters and a public display for every queue."));
    return pix;
}

} // namespace

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
    , m_timer1(new QTimer(this))
    , m_label1(new QLabel(this))
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Tallyvo"));
    const QSize size(480, 270);
    setFixedSize(size);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(splashPicture(size, devicePixelRatioF()));
    picture->setGeometry(0, 0, size.width(), size.height());

    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setText(tr("Starting..."));
    m_label1->setStyleSheet(QStringLiteral("color: #c9d6e3;"));
    m_label1->setGeometry(186, size.height() - 40, size.width() - 200, 24);
    m_label1->raise();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(2000);
    m_timer1->setSingleShot(true);
    connect(m_timer1, &QTimer::timeout, this, [this] {
        // The hand-over waits for the main window's load, however long that takes.
        if (m_loading || !m_activated)
            m_timeUpPending = true;
        else
            emit timeUp();
    });
}

void frmSplash::setMessage(const QString& text)
{
    m_label1->setText(text);
}

void frmSplash::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_timer1->isActive() && !m_activated)
        m_timer1->start();
    if (m_activated)
        return;
    // Let the splash draw itself before the main window's load holds the thread.
    QTimer::singleShot(0, this, [this] {
        if (m_activated)
            return;
        m_activated = true;
        m_loading = true;
        emit activated();
        m_loading = false;
        if (m_timeUpPending) {
            m_timeUpPending = false;
            emit timeUp();
        }
    });
}

} // namespace tallyvo
