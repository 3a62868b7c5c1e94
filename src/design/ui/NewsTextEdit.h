#pragma once

#include <QTextEdit>

namespace tallyvo {

// The news editor's text box. What it gives to and takes from the clipboard is plain text, so a
// message never picks up the look of the program it was copied from; files dropped on it are
// handed to the editor to load instead of being inserted.
class NewsTextEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit NewsTextEdit(QWidget* parent = nullptr);

signals:
    void filesDropped(const QStringList& paths);
    // The mouse moved over the text, x in this widget's coordinates.
    void mouseMovedTo(int x);
    void focused();

protected:
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
};

} // namespace tallyvo
