#pragma once

#include "reports/Backup.h"
#include "reports/ui/ReportWindow.h"

#include <QWidget>
#include <memory>

namespace Ui {
class frmcallDelete;
class frmBackup;
} // namespace Ui

class QPushButton;

namespace tallyvo {

// "Clear Data": the department report with "Delete Selected", which deletes the tokens of the
// selected rows (whichever way the selection was made) after a Yes, and fills the grid again
// whatever the answer.
class frmClearData : public ReportWindow {
    Q_OBJECT
public:
    frmClearData(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                 QWidget* parent = nullptr);

    // "Delete Selected".
    void Command3_Click();

protected:
    void placeButtons(int widthTwips) override;

private:
    QPushButton* m_delete;
};

// "Delete Call Data": deletes the call records of the days before the chosen one.
class frmcallDelete : public QWidget {
    Q_OBJECT
public:
    frmcallDelete(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent = nullptr);
    ~frmcallDelete() override;

    // "Delete ".
    void Command1_Click();

private:
    std::unique_ptr<Ui::frmcallDelete> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
};

// "Backup & Restore": a backup of this station's database into a chosen folder, and a restore
// from a chosen backup after the user types "Yes" to a question that says what the restore would
// lose. Both show their progress and can be cancelled. The station's connection is opened afresh
// when the window closes.
class frmBackup : public QWidget {
    Q_OBJECT
public:
    frmBackup(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent = nullptr);
    ~frmBackup() override;

    void Command2_Click(); // choose the file to restore from
    void Command3_Click(); // "Restore"
    void Command4_Click(); // "Backup"
    void Command5_Click(); // choose the folder to back up to

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Work>
    Backup::Result withProgress(const QString& label, Work work);

    std::unique_ptr<Ui::frmBackup> m_ui;
    Connection& m_connection;
    const Clock& m_clock;
    Prompt& m_prompt;
};

} // namespace tallyvo
