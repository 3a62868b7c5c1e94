#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QLineEdit;

namespace Ui {
class frmTheme;
}

namespace tallyvo {

class ColorSwatch;
class Connection;
class Prompt;
class SettingsStore;
class frmHeader;
class frmPos;
class frmclklst;

// "Create Theme": every value of one display theme. New themes are added, saved ones rewritten;
// "Save" hides the window, which keeps its values until it is closed. "Position", "Header" and
// "Select Clock" open the layout designer, the header captions and the clock chooser, owned by
// this window; the first two only for a theme saved once.
class frmTheme : public QWidget {
    Q_OBJECT
public:
    // Asks for a colour starting from current (0x00BBGGRR); nullopt when the user cancels.
    using ColorChooser = std::function<std::optional<int>(int current, const QString& caption)>;

    frmTheme(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent = nullptr);
    ~frmTheme() override;

    // The theme being edited: "" for a new one. A new theme may choose its display type.
    QString ref() const;
    void setRef(const QString& key);

    void addFont();
    void addSize();
    bool chkVal() const;
    // Add or rewrite the row; false when nothing was written (the reason has been shown).
    bool saveData();
    bool updateData();
    void getData();

    // "Save": true when the theme was stored and the window hidden.
    bool cmdSave_Click();
    void cmdPosition_Click();
    void cmdHeader_Click();
    void cmdClock_Click();

    // The values as they would be stored, in ThemeStore::columns() order.
    QVariantList values() const;

    frmPos* designer() const;
    frmHeader* headerWindow() const;
    frmclklst* clockPicker() const;

    void setColorChooser(ColorChooser chooser) { m_chooseColor = std::move(chooser); }
    // Where the clock chooser looks; "" for files/clock beside the program.
    void setClockFolder(const QString& folder) { m_clockFolder = folder; }

signals:
    // A theme was added or rewritten.
    void saved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setValues(const QVariantList& values);
    void correct(QLineEdit* box);
    void pickColour(ColorSwatch* swatch);
    void pickFile(QLineEdit* box, const QString& filter);
    qint64 key() const;

    std::unique_ptr<Ui::frmTheme> m_ui;
    Connection& m_connection;
    SettingsStore& m_settings;
    Prompt& m_prompt;
    QList<QWidget*> m_fields; // by ThemeStore::columns() index
    ColorChooser m_chooseColor;
    QString m_clockFolder;
    QPointer<frmPos> m_pos;
    QPointer<frmHeader> m_header;
    QPointer<frmclklst> m_clock;
};

} // namespace tallyvo
