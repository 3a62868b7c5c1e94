#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmThLst;
}

namespace tallyvo {

class Connection;
class Grid;
class Prompt;
class ThemeDesign;

// "Theme List": every display theme with its type. "Add New", "Edit" (or a double-click) and
// "Delete"; the editor they open belongs to the main window, not to this list.
class frmThLst : public QWidget {
    Q_OBJECT
public:
    frmThLst(Connection& connection, Prompt& prompt, ThemeDesign& design, QWidget* parent = nullptr);
    ~frmThLst() override;

    void setFG();
    void addFG();

    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdDelete_Click();

    Grid* FG() const;

signals:
    // A theme was deleted.
    void deleted();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::frmThLst> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
    ThemeDesign& m_design;
};

} // namespace tallyvo
