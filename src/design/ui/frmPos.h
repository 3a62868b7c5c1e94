#pragma once

#include "design/LayoutStore.h"
#include "design/cRect.h"

#include <QMainWindow>
#include <array>
#include <memory>

class QCursor;
class QLabel;

namespace Ui {
class frmPos;
}

namespace tallyvo {

class Connection;
class Prompt;
class DragOutline;

// "Vertical Display": a half-size model of the public display on which the six regions of one
// theme are dragged and sized, stored as the theme's tblpos row. The display doubles every value.
//
// In design mode a press on a region selects it and starts a move; eight handles appear around
// it on release, and dragging one moves its edges (past the opposite edge flips the region,
// which the release puts in order). While a drag is under way an outline follows the mouse
// inside the window and the cursor is kept within the window; the region jumps to the outline's
// place on release.
class frmPos : public QMainWindow {
    Q_OBJECT
public:
    using Region = LayoutStore::Region;
    enum DragState { None = 0, Moving = 1, Sizing = 2 };

    frmPos(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmPos() override;

    QString ref() const;
    void setRef(const QString& key);

    // Landscape (half the screen's width by half its height) and portrait (the other way) models.
    void hor();
    void ver();
    void getData();
    // False when the database refused the write (the reason has been shown).
    bool saveData();

    // The menu entries.
    void Design_Click();
    void Save_Click();
    void Exit_Click();

    bool designMode() const { return m_design; }
    DragState dragState() const { return m_dragState; }
    // The selected region, -1 when none.
    int currentControl() const { return m_current; }
    QLabel* region(Region r) const { return m_regions[static_cast<size_t>(r)]; }
    // Where a region is, in twips of the design surface.
    QRectF regionTwips(Region r) const { return m_twips[static_cast<size_t>(r)]; }
    QWidget* picHandle(int index) const { return m_handles[static_cast<size_t>(index)]; }
    QWidget* surface() const;
    // The drag outline in screen pixels while a drag is under way.
    const cRect& dragRect() const { return m_drag; }
    double twipsPerPixel() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void place(int index);
    void showHandles(bool show);
    void startMove(int index, QPoint cursor);
    void startResize(int handle, QPoint cursor);
    void follow(QPoint cursor);
    void finish();
    void dropSelection();
    void endDrag();
    void holdMouse(const QCursor& cursor);
    void drawOutline();
    QPoint confined(QPoint cursor) const;
    QPoint clientOrigin() const;
    void setOuterSize(int width, int height);

    std::unique_ptr<Ui::frmPos> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
    std::array<QLabel*, LayoutStore::kRegions> m_regions{};
    std::array<QRectF, LayoutStore::kRegions> m_twips{};
    std::array<QWidget*, 8> m_handles{};
    DragOutline* m_outline;
    cRect m_drag;
    DragState m_dragState = None;
    int m_current = -1;
    int m_handle = 0;
    QPoint m_offset;
    QSize m_outer; // the size hor() or ver() asked for, frame included
    bool m_design = false;
};

} // namespace tallyvo
