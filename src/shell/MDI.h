#pragma once

#include "admin/ui/frmCntLst.h"
#include "admin/ui/frmDeptLst.h"
#include "admin/ui/frmUserLst.h"
#include "admin/ui/frmVideoLst.h"
#include "calling/ui/frmCall.h"
#include "calling/ui/frmCallAdmin.h"
#include "calling/ui/frmChPass.h"
#include "calling/ui/frmSelService.h"
#include "core/ui/frmSql.h"
#include "design/ui/frmScroll.h"
#include "display/ui/frmDisplay.h"
#include "reports/ui/FigureWindow.h"
#include "reports/ui/LiveBoardWindow.h"
#include "reports/ui/MaintenanceWindows.h"
#include "reports/ui/ReportWindow.h"
#include "shell/ShellServices.h"
#include "shell/frmSettings.h"
#include "tokens/ui/frmTicket.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QMdiArea;
class QMenu;
class QPushButton;

namespace tallyvo {

class Announcer;
class ThemeDesign;
class frmThLst;

// The main window "Tallyvo": the administrator's menus and toolbar strip. It opens the other
// windows, starts and stops the public display, and owns for the whole run what the display
// borrows: the theme key, the scroll speed and the announcer with its voice list.
//
// It lives from start-up to the end of the program, hidden on a counter station.
class MDI : public QMainWindow {
    Q_OBJECT
public:
    explicit MDI(ShellServices services, QWidget* parent = nullptr);
    ~MDI() override;

    // Connects, reads the theme, news and voice settings, fills the voice list, and starts the
    // display when the station starts it by itself (Display/Auto). Done once, hidden.
    void load();
    bool isLoaded() const { return m_loaded; }

    // "Start Display" / "Stop Display" (Ctrl+D here and in the display window).
    void display_Click();
    bool isDisplayRunning() const;
    frmDisplay* displayWindow() const { return m_display; }
    // "Start/Stop News" (Ctrl+N here and in the display window): flips "Enable Scroll".
    void startNews_Click();
    // "Exit": asks, and ends the program unless the display runs; true when it ends.
    bool exit_Click();
    void about_Click();

    // Toolbar "Print Ticket" (kiosk or normal window as the station is set up) and the menu
    // entry of the same name (the window as it is).
    void Command1_Click();
    void printTicket_Click();
    // "Settings": the station's settings window, owned by this window.
    frmSettings* settings_Click();
    // What an administrator login does: the settings window's "Save" at once, so the theme key,
    // scroll speed and ticket copies follow the stored settings. The window shows only when it
    // refuses to save.
    void applySettings();
    // "Theme List": the display themes, with the theme editor behind it.
    frmThLst* thmLst_Click();
    ThemeDesign& themeDesign() const { return *m_design; }
    // "Connection": the connection window, owned by this window.
    frmSql* connect_Click();
    // "Call": the counter console for the session's active counter.
    frmCall* call_Click();
    // Toolbar "Transfer App" and "Call": the counter chooser for transfers, the administrator
    // console.
    frmSelService* Command3_Click();
    frmCallAdmin* Command4_Click();
    // "Change Password": the administrator's own password.
    frmAdminPass* chPass_Click();
    // "Scroll News" and the toolbar's "Add Scroll": the news list.
    frmScroll* scrollnews_Click();
    // "Department Based", "Service Based", "Counter Based", "Pending Report": one window of each.
    ReportWindow* report_Click(ReportKind kind);
    FigureWindow* figure_Click(FigureKind kind);
    LiveBoardWindow* liveBoard_Click();
    // "Clear Ticket Data", "Clear Call Data", "Backup & Restore".
    frmClearData* clrTickData_Click();
    frmcallDelete* ClrCall_Click();
    frmBackup* bkup_Click();
    // "Send to Excel": the grids of the report window activated last.
    void sendto_Click();
    // "Department List", "Service List", "Manage Counter": children of this window's area; an open
    // one is brought forward.
    frmDeptLst* deptLst_Click();
    frmServLst* Servlst_Click();
    frmCntLst* Counter_Click();
    // "Video List": a window of its own. "User List", "Company Details": children placed at the
    // area's top left corner.
    frmVideoLst* Videolst_Click();
    frmUserLst* userLst_Click();
    frmCompany* compdet_Click();

    // After an administrator login: consoles are not for this station's administrator.
    void disableCall();

    int themeKey() const { return m_themeKey; }
    void setThemeKey(int key) { m_themeKey = key; }
    int scrollSpeed() const { return m_scrollSpeed; }
    void setScrollSpeed(int speed);
    Announcer& announcer() const { return *m_announcer; }

    QAction* action(const QString& objectName) const;
    frmTicket* ticketWindow() const { return m_ticket; }

signals:
    // The user ended the program (Exit, or closing this window with the display stopped).
    void programEnd();
    void displayStarted();
    void displayStopped();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildToolbar();
    QAction* addEntry(QMenu* menu, const QString& name, const QString& text, bool available = true);
    void chkStart_Click();
    void startDisplay();
    void stopDisplay();
    void displayGone();
    frmTicket* ticket();
    // Shows w as a child of the area (made by make when not open) and brings it forward.
    template <typename W, typename Make> W* openChild(QPointer<W>& w, Make make);
    frmSettings* settingsWindow();

    ShellServices m_services;
    std::unique_ptr<Announcer> m_announcer;
    QMdiArea* m_area;
    QAction* m_display_action = nullptr;
    QCheckBox* m_chkStart = nullptr;
    QComboBox* m_cmbVoice = nullptr;
    QPointer<frmDisplay> m_display;
    // Which display the switch follows; compared only, never used (it may be half destroyed).
    const QObject* m_runningDisplay = nullptr;
    QPointer<frmTicket> m_ticket;
    QPointer<frmSettings> m_settingsWindow;
    QPointer<frmSql> m_sql;
    QPointer<frmCall> m_call;
    QPointer<frmSelService> m_selService;
    QPointer<frmCallAdmin> m_callAdmin;
    QPointer<frmAdminPass> m_adminPass;
    QPointer<frmScroll> m_scroll;
    QPointer<ReportWindow> m_reports[4];
    QPointer<FigureWindow> m_figures[4];
    QPointer<LiveBoardWindow> m_liveBoard;
    QPointer<frmClearData> m_clearData;
    QPointer<frmcallDelete> m_callDelete;
    QPointer<frmBackup> m_backup;
    ThemeDesign* m_design;
    QPointer<frmDeptLst> m_deptLst;
    QPointer<frmServLst> m_servLst;
    QPointer<frmCntLst> m_cntLst;
    QPointer<frmVideoLst> m_videoLst;
    QPointer<frmUserLst> m_userLst;
    QPointer<frmCompany> m_company;
    int m_themeKey = 0;
    int m_scrollSpeed = 30;
    bool m_loaded = false;
};

} // namespace tallyvo
