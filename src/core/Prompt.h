#pragma once

#include <QString>
#include <optional>

namespace tallyvo {

// Every message box, question and input box goes through here, so tests can script the answers
// and the logic libraries can ask without seeing a widget.
class Prompt {
public:
    virtual ~Prompt() = default;

    virtual void message(const QString& text, const QString& title = QString()) = 0;
    // A Yes/No question; true for Yes.
    virtual bool question(const QString& text, const QString& title = QString()) = 0;
    // An input box; nullopt when the user cancels.
    virtual std::optional<QString> input(const QString& text, const QString& title = QString(),
                                         const QString& initial = QString()) = 0;
    // File and folder choosers; an empty text when the user cancels.
    virtual QString openFileName(const QString& title, const QString& filter) = 0;
    virtual QString saveFileName(const QString& title, const QString& filter) = 0;
    virtual QString folder(const QString& title) = 0;
};

} // namespace tallyvo
