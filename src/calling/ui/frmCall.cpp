#include "calling/ui/frmCall.h"

#include "ui_frmCall.h"

#include "calling/ui/GlobalHotKeys.h"
#include "core/Prompt.h"
#include "core/Session.h"

#include <QCloseEvent>
#include <QTimer>

namespace tallyvo {

namespace {

enum HotKeyId { KeyNext = 0, KeyRecall = 1, KeyCancel = 2, KeyRefresh = 3 };

struct HotKeyDef {
    int id;
    Qt::Key key;
    const char* name;
};

constexpr std::array<HotKeyDef, 4> hotKeyDefs{{
    {KeyNext, Qt::Key_F4, "F4"},
    {KeyRecall, Qt::Key_F5, "F5"},
    {KeyCancel, Qt::Key_F6, "F6"},
    {KeyRefresh, Qt::Key_F7, "F7"},
}};

} // namespace

frmCall::frmCall(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
                 Prompt& prompt, QWidget* parent)
    : CallConsole(Kind::Counter, connection, settings, session, clock, prompt, parent)
    , m_hotKeys(std::make_unique<GlobalHotKeys>())
    , m_counterLogin(!session.isAdmin) {
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &frmCall::exitClick);
    connect(m_hotKeys.get(), &GlobalHotKeys::activated, this, &frmCall::hotKey);
}

frmCall::~frmCall() = default;

void frmCall::registerHotKeys() {
    for (const HotKeyDef& k : hotKeyDefs) {
        if (!m_hotKeys->registerKey(k.id, k.key)) {
            m_prompt.alert(
                Prompt::Icon::Critical,
                tr("Can not register all or one of the hotkeys %1 ... Try other keys this key is "
                   "already registered by some other running applications.")
                    .arg(QLatin1String(k.name)));
        }
    }
}

bool frmCall::hotKeyRegistered(int id) const {
    return m_hotKeys->isRegistered(id);
}

void frmCall::hotKey(int id) {
    switch (id) {
    case KeyNext:
        nextAction();
        break;
    case KeyRecall:
        recallAction();
        break;
    case KeyCancel:
        cancelAction();
        break;
    case KeyRefresh:
        refreshAction();
        break;
    default:
        break;
    }
}

void frmCall::showEvent(QShowEvent* event) {
    CallConsole::showEvent(event);
    // On the first showing, so that a console opened for "Transfer App" is known as an
    // administrator's (no keys) whatever the session says.
    if (m_keysTried)
        return;
    m_keysTried = true;
    if (m_counterLogin && m_ui->chkShortcut->isChecked())
        registerHotKeys();
}

void frmCall::setTransferOnly() {
    // Only an administrator transfers tokens this way: no keys, and closing ends nothing.
    m_counterLogin = false;
    for (int i = 0; i < m_ui->STab->count(); ++i) {
        if (i != 3)
            m_ui->STab->setTabEnabled(i, false);
    }
    m_ui->STab->setCurrentIndex(3);
}

void frmCall::exitClick() {
    if (!m_counterLogin) {
        close();
        return;
    }
    if (!m_prompt.question(tr("Do you want to Close")))
        return;
    endProgram();
    hide();
    close();
}

void frmCall::endProgram() {
    m_hotKeys->unregisterAll();
    refreshTimer()->stop();
    buttonTimer()->stop();
    if (!m_ended) {
        m_ended = true;
        emit programEnd();
    }
}

void frmCall::closeEvent(QCloseEvent* event) {
    // A counter station has no other window: closing its console ends the program.
    if (m_counterLogin)
        endProgram();
    else
        m_hotKeys->unregisterAll();
    event->accept();
}

} // namespace tallyvo
