#pragma once

#include <QList>
#include <QWidget>
#include <memory>

class QLineEdit;

namespace Ui {
class frmHeader;
}

namespace tallyvo {

class Connection;
class Prompt;

// "Header": the captions of a theme's token table, one box per column the theme has, stored in
// its tblheader row, which the display shows in the header row instead of Column1 and Column2.
class frmHeader : public QWidget {
    Q_OBJECT
public:
    frmHeader(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmHeader() override;

    QString ref() const;
    void setRef(const QString& key);

    // One box per column of the theme, filled from its row; a theme without one starts from its
    // Column1 and Column2, so saving a third caption does not blank the first two.
    void getData();
    // Stores the captions and closes; false when the database refused them (said why).
    bool cmdSave_Click();

    QList<QLineEdit*> captionBoxes() const { return m_boxes; }

private:
    std::unique_ptr<Ui::frmHeader> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
    QList<QLineEdit*> m_boxes;
};

} // namespace tallyvo
