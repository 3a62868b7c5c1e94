#include "design/ui/ThemeDesign.h"

#include "widgets/WindowFront.h"

#include "design/ui/frmThLst.h"
#include "design/ui/frmTheme.h"

namespace tallyvo {

ThemeDesign::ThemeDesign(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* owner)
    : QObject(owner)
    , m_connection(connection)
    , m_settings(settings)
    , m_prompt(prompt)
    , m_owner(owner)
{
}

ThemeDesign::~ThemeDesign()
{
    delete m_editor;
    delete m_list;
}

frmThLst* ThemeDesign::themeList() const
{
    return m_list;
}

frmTheme* ThemeDesign::openedEditor() const
{
    return m_editor;
}

frmThLst* ThemeDesign::showThemeList()
{
    if (!m_list) {
        m_list = new frmThLst(m_connection, m_prompt, *this, m_owner);
        connect(m_list, &frmThLst::deleted, this, &ThemeDesign::themesChanged);
    }
    bringForward(m_list);
    return m_list;
}

frmTheme* ThemeDesign::themeEditor()
{
    if (!m_editor) {
        m_editor = new frmTheme(m_connection, m_settings, m_prompt, m_owner);
        connect(m_editor, &frmTheme::saved, this, [this] {
            if (m_list)
                m_list->addFG();
            emit themesChanged();
        });
    }
    return m_editor;
}

} // namespace tallyvo
