#pragma once

#include "core/Prompt.h"

class QWidget;

namespace tallyvo {

// The Prompt of the running program: message boxes with their icons, Yes/No questions, input boxes and file
// dialogs over the active window.
class WidgetPrompt final : public Prompt {
public:
    void message(const QString& text, const QString& title = QString()) override;
    void alert(Icon icon, const QString& text, const QString& title = QString()) override;
    bool question(const QString& text, const QString& title = QString()) override;
    Answer warningYesNoCancel(const QString& text, const QString& title = QString()) override;
    std::optional<QString> input(const QString& text, const QString& title = QString(),
                                 const QString& initial = QString()) override;
    QString openFileName(const QString& title, const QString& filter) override;
    QString saveFileName(const QString& title, const QString& filter) override;
    QString folder(const QString& title) override;
};

} // namespace tallyvo
