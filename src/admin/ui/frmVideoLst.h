#pragma once

#include "admin/SiteRecords.h"
#include "admin/ui/AdminLists.h"
#include "widgets/RecordWindow.h"

#include <memory>

namespace Ui {
class frmVideo;
}

namespace tallyvo {

// "Video List": the display's playlist, a window of its own. Refilled after a save and a delete,
// not on activation. An entry whose file is gone is marked, since the display skips it.
class frmVideoLst : public AdminList {
    Q_OBJECT
public:
    frmVideoLst(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);

    // "&Delete": asks before anything else, then deletes the selected entry and refills.
    void Command2_Click();

protected:
    std::vector<QStringList> records() override;
    RecordWindow* makeRecordWindow() override;
    void deleteRecord(const QString& key) override;
    void rowFilled(int row, const QStringList& record) override;
};

// "Select Video": the file (chosen with "--"), a description and whether it plays.
class frmVideo : public RecordWindow {
    Q_OBJECT
public:
    frmVideo(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmVideo() override;

    // "--": the file chooser; cancelling keeps the path.
    void Command1_Click();

protected:
    QString validate() override;
    void saveData() override;
    void updateData() override;
    void getData() override;

private:
    VideoRecord record() const;

    std::unique_ptr<Ui::frmVideo> m_ui;
    Connection& m_connection;
};

} // namespace tallyvo
