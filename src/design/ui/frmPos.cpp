#include "design/ui/frmPos.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "ui_frmPos.h"
#include "widgets/BgrColor.h"
#include "widgets/Twips.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace tallyvo {

// The outline a drag draws. X11 has no inverting pen on the screen, so it is drawn over the
// window's own contents, black inside white so it shows on every region colour.
class DragOutline : public QWidget {
public:
    explicit DragOutline(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setObjectName(QStringLiteral("dragOutline"));
        hide();
    }
    void setOutline(const QRect& r)
    {
        m_rect = r;
        update();
    }
    QRect outline() const { return m_rect; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 4));
        p.drawRect(m_rect);
        p.setPen(QPen(Qt::black, 2));
        p.drawRect(m_rect);
    }

private:
    QRect m_rect;
};

namespace {

constexpr int kHandlePixels = 5;

int toPixels(double twips, double factor)
{
    return static_cast<int>(std::lround(twips / factor));
}

const std::array<Qt::CursorShape, 8> kHandleCursors{Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                    Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                    Qt::SizeBDiagCursor, Qt::SizeHorCursor};

} // namespace

frmPos::frmPos(Connection& connection, Prompt& prompt, QWidget* parent)
    : QMainWindow(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmPos>())
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    QWidget* area = surface();
    area->setAutoFillBackground(true);
    QPalette white = area->palette();
    white.setColor(QPalette::Window, Qt::white);
    area->setPalette(white);
    area->installEventFilter(this);

    for (const LayoutStore::RegionLook& look : LayoutStore::regions()) {
        const auto i = static_cast<size_t>(look.region);
        auto* box = new QLabel(look.caption, area);
        box->setObjectName(look.objectName);
        box->setAccessibleName(look.caption);
        box->setAlignment(Qt::AlignCenter);
        box->setFrameShape(QFrame::Box);
        box->setAutoFillBackground(true);
        QPalette pal = box->palette();
        pal.setColor(QPalette::Window, colorFromBgr(look.colour));
        pal.setColor(QPalette::WindowText, Qt::black);
        box->setPalette(pal);
        box->installEventFilter(this);
        m_regions[i] = box;
        m_twips[i] = look.initial;
    }
    for (int k = 0; k < 8; ++k) {
        auto* h = new QWidget(area);
        h->setObjectName(QStringLiteral("picHandle%1").arg(k));
        h->setAutoFillBackground(true);
        QPalette pal = h->palette();
        pal.setColor(QPalette::Window, Qt::black);
        h->setPalette(pal);
        h->resize(kHandlePixels, kHandlePixels);
        h->setCursor(kHandleCursors[static_cast<size_t>(k)]);
        h->installEventFilter(this);
        h->hide();
        m_handles[static_cast<size_t>(k)] = h;
    }
    m_outline = new DragOutline(this);

    connect(m_ui->mnuDesign, &QAction::triggered, this, &frmPos::Design_Click);
    connect(m_ui->mnuSave, &QAction::triggered, this, &frmPos::Save_Click);
    connect(m_ui->mnuExit, &QAction::triggered, this, &frmPos::Exit_Click);

    // Load.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize full = s ? s->geometry().size() : QSize(1280, 1024);
    setOuterSize(full.width() / 2, full.height() / 2);
    for (int i = 0; i < LayoutStore::kRegions; ++i)
        place(i);
}

frmPos::~frmPos() = default;

QWidget* frmPos::surface() const
{
    return m_ui->surface;
}

QString frmPos::ref() const
{
    return m_ui->lblRef->text();
}

void frmPos::setRef(const QString& key)
{
    m_ui->lblRef->setText(key);
}

double frmPos::twipsPerPixel() const
{
    return tallyvo::twipsPerPixel(logicalDpiX());
}

QPoint frmPos::clientOrigin() const
{
    return surface()->mapToGlobal(QPoint(0, 0));
}

void frmPos::setOuterSize(int width, int height)
{
    m_outer = QSize(width, height);
    const QSize frame = frameGeometry().size() - size();
    resize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
}

void frmPos::hor()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize full = s ? s->geometry().size() : QSize(1280, 1024);
    setOuterSize(full.width() / 2, full.height() / 2);
}

void frmPos::ver()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize full = s ? s->geometry().size() : QSize(1280, 1024);
    setOuterSize(full.height() / 2, full.width() / 2);
}

void frmPos::place(int index)
{
    const double f = twipsPerPixel();
    const QRectF& t = m_twips[static_cast<size_t>(index)];
    const int left = toPixels(t.left(), f);
    const int top = toPixels(t.top(), f);
    m_regions[static_cast<size_t>(index)]->setGeometry(left, top, toPixels(t.left() + t.width(), f) - left,
                                                       toPixels(t.top() + t.height(), f) - top);
}

void frmPos::getData()
{
    std::optional<LayoutStore::Stored> stored;
    try {
        stored = LayoutStore::load(*m_connection.db(), ref().trimmed().toInt());
    } catch (const DbError&) {
        return;
    }
    if (!stored)
        return;
    for (int i = 0; i < LayoutStore::kRegions; ++i) {
        const LayoutStore::Stored::Rect& r = stored->regions[static_cast<size_t>(i)];
        QRectF& t = m_twips[static_cast<size_t>(i)];
        if (r[0])
            t.moveLeft(*r[0]);
        if (r[1])
            t.moveTop(*r[1]);
        if (r[2] && *r[2] >= 0)
            t.setWidth(*r[2]);
        if (r[3] && *r[3] >= 0)
            t.setHeight(*r[3]);
        place(i);
    }
    const double f = twipsPerPixel();
    QPoint at = pos();
    if (stored->meleft)
        at.setX(toPixels(*stored->meleft, f));
    if (stored->metop)
        at.setY(toPixels(*stored->metop, f));
    move(at);
}

bool frmPos::saveData()
{
    const double f = twipsPerPixel();
    const QRect outer = frameGeometry();
    LayoutStore::Layout layout;
    layout.regions = m_twips;
    layout.window = QRectF(std::lround(outer.x() * f), std::lround(outer.y() * f), std::lround(outer.width() * f),
                           std::lround(outer.height() * f));
    try {
        LayoutStore::save(*m_connection.db(), ref().trimmed().toInt(), layout);
        return true;
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return false;
    }
}

void frmPos::Design_Click()
{
    m_design = !m_design;
    m_ui->mnuDesign->setChecked(m_design);
    if (!m_design)
        dropSelection();
}

void frmPos::Save_Click()
{
    Design_Click();
    if (!ref().isEmpty())
        saveData();
}

void frmPos::Exit_Click()
{
    close();
}

void frmPos::dropSelection()
{
    m_current = -1;
    showHandles(false);
    endDrag();
}

void frmPos::endDrag()
{
    m_dragState = None;
    m_outline->hide();
    if (QWidget::mouseGrabber() == surface())
        surface()->releaseMouse();
}

void frmPos::holdMouse(const QCursor& cursor)
{
    // The press went to a region or a handle, and a pressed handle is hidden at once: a hidden
    // widget gets no more mouse events, so the moves and the release would go nowhere. The
    // surface keeps the mouse until the release, whatever is under the pointer.
    surface()->grabMouse(cursor);
}

void frmPos::showHandles(bool show)
{
    if (!show || m_current < 0) {
        for (QWidget* h : m_handles)
            h->setVisible(false);
        return;
    }
    const double f = twipsPerPixel();
    const int w = static_cast<int>(std::lround(kHandlePixels * f));
    const int w2 = w / 2;
    const int fx = static_cast<int>(std::lround(f / 2));
    const int L = m_drag.Left, T = m_drag.Top, W = m_drag.Width(), H = m_drag.Height();
    const std::array<QPoint, 8> corners{QPoint(L - w2 + fx, T - w2 + fx),         QPoint(L + W / 2 - w2, T - w2 + fx),
                                        QPoint(L + W - w2 - fx, T - w2 + fx),     QPoint(L + W - w2 - fx, T + H / 2 - w2),
                                        QPoint(L + W - w2 - fx, T + H - w2 - fx), QPoint(L + W / 2 - w2, T + H - w2 - fx),
                                        QPoint(L - w2 + fx, T + H - w2 - fx),     QPoint(L - w2 + fx, T + H / 2 - w2)};
    for (size_t k = 0; k < m_handles.size(); ++k) {
        QWidget* h = m_handles[k];
        h->move(toPixels(corners[k].x(), f), toPixels(corners[k].y(), f));
        h->show();
        h->raise();
    }
}

void frmPos::startMove(int index, QPoint cursor)
{
    showHandles(false);
    m_current = index;
    m_drag.SetRectToCtrl(m_twips[static_cast<size_t>(index)]);
    m_drag.TwipsToScreen(twipsPerPixel(), clientOrigin());
    m_offset = cursor - QPoint(m_drag.Left, m_drag.Top);
    update();
    drawOutline();
    m_dragState = Moving;
    holdMouse(m_regions[static_cast<size_t>(index)]->cursor());
}

void frmPos::startResize(int handle, QPoint)
{
    if (m_current < 0)
        return;
    m_drag.SetRectToCtrl(m_twips[static_cast<size_t>(m_current)]);
    m_drag.TwipsToScreen(twipsPerPixel(), clientOrigin());
    m_handle = handle;
    showHandles(false);
    update();
    m_dragState = Sizing;
    drawOutline();
    holdMouse(m_handles[static_cast<size_t>(handle)]->cursor());
}

QPoint frmPos::confined(QPoint cursor) const
{
    const QRect outer = frameGeometry();
    const QPoint inside(std::clamp(cursor.x(), outer.left(), outer.right()),
                        std::clamp(cursor.y(), outer.top(), outer.bottom()));
    if (inside != cursor && QGuiApplication::platformName() != QLatin1String("offscreen"))
        QCursor::setPos(inside);
    return inside;
}

void frmPos::follow(QPoint cursor)
{
    const QPoint c = confined(cursor);
    if (m_dragState == Moving) {
        const int w = m_drag.Width();
        const int h = m_drag.Height();
        m_drag.Left = c.x() - m_offset.x();
        m_drag.Top = c.y() - m_offset.y();
        m_drag.Right = m_drag.Left + w;
        m_drag.Bottom = m_drag.Top + h;
    } else if (m_dragState == Sizing) {
        switch (m_handle) {
        case 0: m_drag.Left = c.x(); m_drag.Top = c.y(); break;
        case 1: m_drag.Top = c.y(); break;
        case 2: m_drag.Right = c.x(); m_drag.Top = c.y(); break;
        case 3: m_drag.Right = c.x(); break;
        case 4: m_drag.Right = c.x(); m_drag.Bottom = c.y(); break;
        case 5: m_drag.Bottom = c.y(); break;
        case 6: m_drag.Left = c.x(); m_drag.Bottom = c.y(); break;
        case 7: m_drag.Left = c.x(); break;
        default: break;
        }
    } else {
        return;
    }
    drawOutline();
}

void frmPos::finish()
{
    endDrag();
    if (m_current < 0 || m_current >= LayoutStore::kRegions)
        return;
    m_drag.ScreenToTwips(twipsPerPixel(), clientOrigin());
    const QRect r = m_drag.SetCtrlToRect();
    m_twips[static_cast<size_t>(m_current)] = QRectF(r);
    place(m_current);
    showHandles(true);
}

void frmPos::drawOutline()
{
    const QPoint topLeft = m_outline->mapFromGlobal(QPoint(m_drag.Left, m_drag.Top));
    const QPoint bottomRight = m_outline->mapFromGlobal(QPoint(m_drag.Right, m_drag.Bottom));
    m_outline->setOutline(QRect(topLeft, bottomRight).normalized());
    m_outline->show();
    m_outline->raise();
}

void frmPos::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The frame is known only once the window is up: the outer size is what the model stands for.
    if (frameGeometry().size() != m_outer)
        setOuterSize(m_outer.width(), m_outer.height());
}

void frmPos::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_outline->setGeometry(rect());
}

bool frmPos::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();

    if (type == QEvent::MouseMove) {
        if (m_dragState == None)
            return QMainWindow::eventFilter(watched, event);
        // The release went elsewhere (the window system took the pointer away): the drag ends
        // where the button was let go rather than following a pointer with no button down.
        if (!(mouse->buttons() & Qt::LeftButton)) {
            follow(global);
            finish();
            return true;
        }
        follow(global);
        return true;
    }
    if (mouse->button() != Qt::LeftButton)
        return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::MouseButtonRelease) {
        if (m_dragState == None)
            return QMainWindow::eventFilter(watched, event);
        finish();
        return true;
    }

    // A press. One while a drag is under way is a second button's, or a lost release's: ignored.
    if (m_dragState != None)
        return true;
    for (size_t k = 0; k < m_handles.size(); ++k) {
        if (watched == m_handles[k] && m_handles[k]->isVisible()) {
            startResize(static_cast<int>(k), global);
            return true;
        }
    }
    if (!m_design)
        return QMainWindow::eventFilter(watched, event);
    for (size_t i = 0; i < m_regions.size(); ++i) {
        if (watched == m_regions[i]) {
            startMove(static_cast<int>(i), global);
            return true;
        }
    }
    if (watched == surface()) {
        const double f = twipsPerPixel();
        const QPointF at = mouse->position() * f;
        for (size_t i = 0; i < m_regions.size(); ++i) {
            if (!m_regions[i]->isVisible())
                continue;
            cRect r;
            r.SetRectToCtrl(m_twips[i]);
            if (r.PtInRect(at.x(), at.y())) {
                startMove(static_cast<int>(i), global);
                return true;
            }
        }
        dropSelection();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tallyvo
