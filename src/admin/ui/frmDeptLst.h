#pragma once

#include "admin/Departments.h"
#include "admin/ui/AdminLists.h"
#include "widgets/RecordWindow.h"

#include <memory>

namespace Ui {
class frmDept;
class frmService;
}

namespace tallyvo {

// "Deparment Lst": every department, active or not. The grid follows the window's size. Delete
// asks nothing: a department with services is refused, one without goes at once.
class frmDeptLst : public AdminList {
    Q_OBJECT
public:
    frmDeptLst(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);

protected:
    std::vector<QStringList> records() override;
    RecordWindow* makeRecordWindow() override;
    void deleteRecord(const QString& key) override;
};

// "Department": name, description, active.
class frmDept : public RecordWindow {
    Q_OBJECT
public:
    frmDept(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmDept() override;

protected:
    QString validate() override;
    void saveData() override;
    void updateData() override;
    void getData() override;

private:
    DeptRecord record() const;

    std::unique_ptr<Ui::frmDept> m_ui;
    Connection& m_connection;
};

// "Service List": services with their department and numbering. Delete asks first; a service
// with tokens of any date is refused.
class frmServLst : public AdminList {
    Q_OBJECT
public:
    frmServLst(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);

protected:
    std::vector<QStringList> records() override;
    RecordWindow* makeRecordWindow() override;
    void deleteRecord(const QString& key) override;
};

// "Service Details": department, name, description, first and last token number, prefix.
class frmService : public RecordWindow {
    Q_OBJECT
public:
    frmService(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmService() override;

    // Fills "Select Dept" with the active departments.
    void addDept();

protected:
    QString validate() override;
    void saveData() override;
    void updateData() override;
    void getData() override;

private:
    ServiceRecord record() const;

    std::unique_ptr<Ui::frmService> m_ui;
    Connection& m_connection;
};

} // namespace tallyvo
