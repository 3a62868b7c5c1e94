#pragma once

#include "admin/Counters.h"
#include "admin/ui/AdminLists.h"
#include "widgets/RecordWindow.h"

#include <memory>

namespace Ui {
class frmCounter;
}

namespace tallyvo {

// "Counter List": counters by name. Filled when it loads and after the counter window saves,
// not on activation. Delete asks first; a counter that has called a token is refused.
class frmCntLst : public AdminList {
    Q_OBJECT
public:
    frmCntLst(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);

protected:
    std::vector<QStringList> records() override;
    RecordWindow* makeRecordWindow() override;
    void deleteRecord(const QString& key) override;
};

// "Couter": service, names, login and active. Only a hash of the password is stored, so an
// edited counter shows empty password boxes, and leaving them empty keeps the password.
class frmCounter : public RecordWindow {
    Q_OBJECT
public:
    frmCounter(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmCounter() override;

    // Fills "Select Service" with the active services.
    void addServ();

protected:
    QString validate() override;
    void saveData() override;
    void updateData() override;
    void getData() override;

private:
    CounterRecord record() const;

    std::unique_ptr<Ui::frmCounter> m_ui;
    Connection& m_connection;
};

} // namespace tallyvo
