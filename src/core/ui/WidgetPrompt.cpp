#include "core/ui/WidgetPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>

namespace tallyvo {

namespace {

QWidget* parentWindow()
{
    return QApplication::activeWindow();
}

QString titleOr(const QString& title)
{
    return title.isEmpty() ? QApplication::applicationName() : title;
}

} // namespace

void WidgetPrompt::message(const QString& text, const QString& title)
{
    alert(Icon::Information, text, title);
}

void WidgetPrompt::alert(Icon icon, const QString& text, const QString& title)
{
    switch (icon) {
    case Icon::Information:
        QMessageBox::information(parentWindow(), titleOr(title), text);
        break;
    case Icon::Exclamation:
        QMessageBox::warning(parentWindow(), titleOr(title), text);
        break;
    case Icon::Critical:
        QMessageBox::critical(parentWindow(), titleOr(title), text);
        break;
    }
}

bool WidgetPrompt::question(const QString& text, const QString& title)
{
    return QMessageBox::question(parentWindow(), titleOr(title), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

Prompt::Answer WidgetPrompt::warningYesNoCancel(const QString& text, const QString& title)
{
    switch (QMessageBox::warning(parentWindow(), titleOr(title), text,
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<QString> WidgetPrompt::input(const QString& text, const QString& title, const QString& initial)
{
    QInputDialog dialog(parentWindow());
    dialog.setWindowTitle(titleOr(title));
    dialog.setLabelText(text);
    dialog.setTextValue(initial);
    // A question that explains itself at length wraps instead of stretching across the screen.
    if (text.size() > 80) {
        if (auto* label = dialog.findChild<QLabel*>())
            label->setWordWrap(true);
        dialog.resize(560, dialog.sizeHint().height());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QString WidgetPrompt::openFileName(const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parentWindow(), title, QString(), filter);
}

QString WidgetPrompt::saveFileName(const QString& title, const QString& filter)
{
    return QFileDialog::getSaveFileName(parentWindow(), title, QString(), filter);
}

QString WidgetPrompt::folder(const QString& title)
{
    return QFileDialog::getExistingDirectory(parentWindow(), title);
}

} // namespace tallyvo
