#pragma once

#include <QWidget>

namespace tallyvo {

// Shows a window that may be hidden, minimised or behind others, in front and active.
inline void bringForward(QWidget* w)
{
    if (w->isMinimized())
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace tallyvo
