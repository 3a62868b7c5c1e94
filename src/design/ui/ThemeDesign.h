#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace tallyvo {

class Connection;
class Prompt;
class SettingsStore;
class frmThLst;
class frmTheme;

// The theme list and the one theme editor, both owned by the main window (owner). The editor is
// made on first use and lives until the user closes it; "Save" only hides it.
class ThemeDesign : public QObject {
    Q_OBJECT
public:
    ThemeDesign(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* owner);
    ~ThemeDesign() override;

    // The list, loaded (and filled) when it is not open yet; shown and brought forward.
    frmThLst* showThemeList();
    // The editor, made when there is none.
    frmTheme* themeEditor();
    frmThLst* themeList() const;
    frmTheme* openedEditor() const;

signals:
    // A theme was added, rewritten or deleted: lists of theme names refill.
    void themesChanged();

private:
    Connection& m_connection;
    SettingsStore& m_settings;
    Prompt& m_prompt;
    QWidget* m_owner;
    QPointer<frmThLst> m_list;
    QPointer<frmTheme> m_editor;
};

} // namespace tallyvo
