#include "design/ui/NewsTextEdit.h"

#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextDocumentFragment>

namespace tallyvo {

namespace {

QStringList localFiles(const QMimeData* data)
{
    QStringList out;
    if (!data || !data->hasUrls())
        return out;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            out << url.toLocalFile();
    }
    return out;
}

} // namespace

NewsTextEdit::NewsTextEdit(QWidget* parent)
    : QTextEdit(parent)
{
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setAcceptRichText(false);
}

QMimeData* NewsTextEdit::createMimeDataFromSelection() const
{
    auto* mime = new QMimeData;
    // The selection as typed: paragraph breaks as line breaks, no formatting.
    mime->setText(textCursor().selection().toPlainText());
    return mime;
}

bool NewsTextEdit::canInsertFromMimeData(const QMimeData* source) const
{
    return source && source->hasText();
}

void NewsTextEdit::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText())
        textCursor().insertText(source->text());
}

void NewsTextEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragEnterEvent(event);
}

void NewsTextEdit::dragMoveEvent(QDragMoveEvent* event)
{
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return;
    }
    QTextEdit::dragMoveEvent(event);
}

void NewsTextEdit::dropEvent(QDropEvent* event)
{
    const QStringList files = localFiles(event->mimeData());
    if (!files.isEmpty()) {
        // Taken as a copy: the file where it came from stays as it was.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        emit filesDropped(files);
        return;
    }
    QTextEdit::dropEvent(event);
}

void NewsTextEdit::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMovedTo(viewport()->mapTo(this, event->position().toPoint()).x());
    QTextEdit::mouseMoveEvent(event);
}

void NewsTextEdit::focusInEvent(QFocusEvent* event)
{
    QTextEdit::focusInEvent(event);
    emit focused();
}

} // namespace tallyvo
