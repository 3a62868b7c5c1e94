#pragma once

#include <QString>
#include <optional>

namespace tallyvo {

// Every message box, question and input box goes through here, so tests can script the answers
// and the logic libraries can ask without seeing a widget.
class Prompt {
public:
    // How a message box marks its text: a notice, a refused input or a warning, a failure.
    enum class Icon { Information, Exclamation, Critical };

    virtual ~Prompt() = default;

    // A message box with the information icon.
    virtual void message(const QString& text, const QString& title = QString()) = 0;
    // A message box with the given icon. A prompt that has no icons to show (a terminal) need not
    // override it: the text still reaches the user through message().
    virtual void alert(Icon icon, const QString& text, const QString& title = QString())
    {
        static_cast<void>(icon);
        message(text, title);
    }
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
