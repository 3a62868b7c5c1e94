#pragma once

#include <QColor>
#include <QFont>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QPrinter;

namespace Ui {
class frmEditor;
}

namespace tallyvo {

class Connection;
class NewsTextEdit;
class TextFormatter;
class Prompt;
class SettingsStore;

// The news editor " Scroll Editor.": a small word processor for one scroll-news message. The news
// list opens it for a new message or for a stored one; "Save" stores the message (plain text for
// the display, RTF so the editor can show it again) and closes the editor.
//
// The display shows only the plain text, in the font and size of the two lists; the formatting in
// the box is kept with the message for the next edit. Closing the editor in any way but "E&xit"
// tells the list to refill (closed()). "E&xit" asks about unsaved text first, then has the main
// window end the program the way its own Exit does (the exit handler); the editor stays open
// with its text when either says no.
//
// The window holds the menus, toolbars and lists and the message's way to and from the database;
// the formatting commands are TextFormatter's and reading and writing files is NewsFiles'.
class frmEditor : public QMainWindow {
    Q_OBJECT
public:
    enum class Mode { New, Edit };
    // What a save came to.
    enum class SaveResult { Stored, Empty, Failed };

    frmEditor(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent = nullptr);
    ~frmEditor() override;

    Mode mode() const { return m_mode; }
    // The stored message being edited; 0 for a new one.
    qint64 key() const;

    // Starts a new message (asking first about unsaved changes); false when the user cancelled.
    bool newMessage();
    // Shows a stored message (asking first about unsaved changes); false when the user cancelled
    // or the message is not there any more.
    bool editMessage(qint64 key);
    // Loads the stored rich text, "Active" and "Direction" of message key into the box.
    bool getheadDetails(qint64 key);

    // "&Save": stores the message and closes the editor.
    SaveResult saveData();
    // "&New", "&Open ...", a dropped file: each asks first when the text has changed.
    void newFile();
    void openFile();
    void dropFiles(const QStringList& paths);
    // Loads a rich-text or plain-text file into the box; false (and the box as it was) when it
    // cannot be read.
    bool loadFile(const QString& path);
    // "Save &As ...": the text to a rich-text (or, for a .txt name, plain-text) file.
    void saveAs();
    void printText();
    bool isChanged() const;
    QString fileName() const { return m_fileName; }

    // The dialogs, replaceable for tests. A font chooser gives nullopt, a colour chooser an
    // invalid colour, a print chooser false when the user cancels.
    using FontChooser = std::function<std::optional<QFont>(const QFont& current)>;
    using ColourChooser = std::function<QColor(const QColor& current)>;
    // Sets up the printer; *selectionOnly tells whether the user chose to print the selection.
    using PrintChooser = std::function<bool(QPrinter& printer, bool hasSelection, bool* selectionOnly)>;
    void setFontChooser(FontChooser f) { m_fontChooser = std::move(f); }
    void setColourChooser(ColourChooser f) { m_colourChooser = std::move(f); }
    void setPrintChooser(PrintChooser f) { m_printChooser = std::move(f); }
    // Ends the program the way the main window's Exit does; true when the program is ending.
    // Without one, "E&xit" ends nothing.
    using ExitHandler = std::function<bool()>;
    void setExitHandler(ExitHandler f) { m_exitHandler = std::move(f); }

    // Indent of slider position 0..7: 2 mm plus that many inches, in twips.
    static int indentTwips(int position);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void connectCommands();
    void fillLists();
    // The changed-text question; true when the command may go on.
    bool confirmDiscard();
    void startEmpty();

    void toggleBold();
    void toggleItalic();
    void toggleUnderline();
    void toggleStrike();
    void toggleBullets();
    void setAlignment(Qt::Alignment alignment);
    void chooseFont();
    void chooseForeColour();
    void chooseBackColour();
    void changeCase(bool upper);
    void applyFontAndSize();
    void applySize();
    void applyStyle(int index);
    void applyIndent(int position);
    void cut();
    void copy();
    void paste();
    void deleteSelection();
    void selectAll();
    void exitProgram();
    void cancel();
    void stripMarkup();

    void selectionChanged();
    void showLine();
    void setPreview(QWidget* preview, const QColor& colour);

    std::unique_ptr<Ui::frmEditor> m_ui;
    NewsTextEdit* m_text;
    std::unique_ptr<TextFormatter> m_format;
    QLabel* m_status;
    Connection& m_connection;
    SettingsStore& m_settings;
    Prompt& m_prompt;
    Mode m_mode = Mode::New;
    QString m_fileName;
    QColor m_foreColour = Qt::black;
    QColor m_backColour = Qt::white;
    bool m_closeWithoutQuestion = false;
    bool m_exiting = false;
    bool m_inCloseEvent = false;
    FontChooser m_fontChooser;
    ColourChooser m_colourChooser;
    PrintChooser m_printChooser;
    ExitHandler m_exitHandler;
};

} // namespace tallyvo
