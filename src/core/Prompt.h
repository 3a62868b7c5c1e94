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
    // A warning with Yes, No and Cancel. Where no Cancel can be offered, the Yes/No question.
    enum class Answer { Yes, No, Cancel };
    virtual Answer warningYesNoCancel(const QString& text, const QString& title = QString())
    {
        return question(text, title) ? Answer::Yes : Answer::No;
    }
    // An input box; nullopt when the user cancels.
    virtual std::optional<QString> input(const QString& text, const QString& title = QString(),
                                         const QString& initial = QString()) = 0;
    // File and folder choosers; an empty text when the user cancels.
    virtual QString openFileName(const QString& title, const QString& filter) = 0;
    virtual QString saveFileName(const QString& title, const QString& filter) = 0;
    virtual QString folder(const QString& title) = 0;
};

} // namespace tallyvo
