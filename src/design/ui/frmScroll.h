#pragma once

#include "design/ui/frmEditor.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmScroll;
}

namespace tallyvo {

class Connection;
class Grid;
class Prompt;
class SettingsStore;

// The scroll-news list "Scroll News": find, add, edit and delete the messages the display's news
// band runs. "Show All" ticked lists only the active messages; "Find" lists those whose text
// contains the search. Messages are written in the news editor, which this window opens; the list
// refills whenever the editor closes.
//
// The editor is a window of its own, owned by this window's parent (the main window) when there
// is one, so closing the list never takes unsaved text with it.
class frmScroll : public QWidget {
    Q_OBJECT
public:
    frmScroll(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent = nullptr);
    ~frmScroll() override;

    // Header row and columns.
    void setFG();
    // setFG, then the messages "Show All" asks for.
    void addFG();
    // "Find": the messages containing the search text; nothing happens for an empty search.
    void find();
    // "Add New", "Edit" (and a double-click), "Delete".
    frmEditor* addNew();
    frmEditor* edit();
    void remove();

    // The open editor, null when none is open.
    frmEditor* editor() const { return m_editor; }

signals:
    // A new editor window, which outlives this list: whoever ends the program gives it its exit
    // handler here.
    void editorOpened(frmEditor* editor);

private:
    void fill(bool activeOnly, const QString& search);
    frmEditor* openEditor();

    std::unique_ptr<Ui::frmScroll> m_ui;
    Grid* m_fg;
    Connection& m_connection;
    SettingsStore& m_settings;
    Prompt& m_prompt;
    QPointer<frmEditor> m_editor;
};

} // namespace tallyvo
