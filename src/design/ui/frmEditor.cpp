#include "design/ui/frmEditor.h"

#include "ui_frmEditor.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/SettingsStore.h"
#include "design/NewsStore.h"
#include "design/Rtf.h"
#include "design/ui/NewsFiles.h"
#include "design/ui/RichText.h"
#include "design/ui/TextFormatter.h"
#include "widgets/BgrColor.h"
#include "widgets/Twips.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPrintDialog>
#include <QPrinter>
#include <QAbstractItemView>
#include <QFontMetrics>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace tallyvo {

namespace {

QString changedQuestion()
{
    return frmEditor::tr("The text in the untitled file has changed.") + QLatin1Char('\n') +
           frmEditor::tr("Do you want to save the changes ?");
}

} // namespace

frmEditor::frmEditor(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::frmEditor>())
    , m_connection(connection)
    , m_settings(settings)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    m_text = m_ui->rtfText;
    m_format = std::make_unique<TextFormatter>(*m_text);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAccessibleName(tr("Status"));
    statusBar()->addWidget(m_status, 1);
    setAcceptDrops(true);

    auto* align = new QActionGroup(this);
    align->setExclusive(true);
    for (QAction* a : {m_ui->mnuLeft, m_ui->mnuCenter, m_ui->mnuRight})
        align->addAction(a);

    // The style list shows each entry in its own font; its drop-down is made wide enough for the
    // largest, which the list's own font would cut short ("He...g1").
    int widest = 0;
    for (int i = 0; i < m_ui->cmbStyle->count(); ++i) {
        const QFont font = TextFormatter::styleListFont(i, m_ui->cmbStyle->font());
        m_ui->cmbStyle->setItemData(i, font, Qt::FontRole);
        widest = std::max(widest, QFontMetrics(font).horizontalAdvance(m_ui->cmbStyle->itemText(i)));
    }
    m_ui->cmbStyle->view()->setMinimumWidth(widest + 4 * m_ui->cmbStyle->fontMetrics().averageCharWidth());
    m_ui->cmbFont->setInsertPolicy(QComboBox::NoInsert);
    m_ui->cmbSize->setInsertPolicy(QComboBox::NoInsert);
    m_ui->cmbFont->lineEdit()->installEventFilter(this);
    m_ui->cmbSize->lineEdit()->installEventFilter(this);

    // Opening: the stored speed, "Left", the window nearly as wide as the screen.
    const int speed = m_ui->cmbSpeed->findText(m_settings.get(Keys::NewsEditorSpeed));
    m_ui->cmbSpeed->setCurrentIndex(speed >= 0 ? speed : m_ui->cmbSpeed->findText(Keys::NewsEditorSpeed.fallback));
    m_ui->cmbDirection->setCurrentIndex(0);
    if (QScreen* screen = this->screen())
        resize(screen->availableGeometry().width() - twipsToPixels(1000, logicalDpiX()), height());

    if (!m_connection.db()->isOpen())
        m_connection.connectDb();

    setPreview(m_ui->picFore, m_foreColour);
    setPreview(m_ui->picBack, m_backColour);
    fillLists();
    startEmpty();

    m_fontChooser = [this](const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont f = QFontDialog::getFont(&ok, current, this, tr("Font"));
        return ok ? std::optional<QFont>(f) : std::nullopt;
    };
    m_colourChooser = [this](const QColor& current) {
        return QColorDialog::getColor(current, this, tr("Colour"));
    };
    m_printChooser = [this](QPrinter& printer, bool hasSelection, bool* selectionOnly) {
        QPrintDialog dialog(&printer, this);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, true);
        if (hasSelection)
            dialog.setPrintRange(QAbstractPrintDialog::Selection);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        *selectionOnly = dialog.printRange() == QAbstractPrintDialog::Selection;
        return true;
    };

    connectCommands();
    selectionChanged();
}

frmEditor::~frmEditor() = default;

void frmEditor::fillLists()
{
    m_status->setText(tr("Please Wait... (Loading Fonts)"));
    m_ui->cmbFont->clear();
    m_ui->cmbFont->addItems(QFontDatabase::families());
    m_ui->cmbSize->clear();
    for (int size = 2; size <= 100; size += 2)
        m_ui->cmbSize->addItem(QString::number(size));
    m_ui->cmbFont->setCurrentText(QStringLiteral("Arial"));
    m_ui->cmbSize->setCurrentText(QStringLiteral("20"));
    QFont base(QStringLiteral("Arial"));
    base.setPointSize(20);
    m_format->setBaseFont(base);
    m_status->clear();
}

// An empty box in the base font, indented 2 mm as the slider's first position says.
void frmEditor::startEmpty()
{
    const QFont& base = m_format->baseFont();
    m_text->document()->setDefaultFont(base);
    m_text->setFont(base);
    m_text->clear();
    m_text->setCurrentFont(base);
    {
        const QSignalBlocker block(m_ui->sldIndent);
        m_ui->sldIndent->setValue(0);
    }
    applyIndent(0);
    m_text->document()->clearUndoRedoStacks();
    m_text->document()->setModified(false);
}

void frmEditor::connectCommands()
{
    Ui::frmEditor& ui = *m_ui;
    connect(ui.mnuNew, &QAction::triggered, this, &frmEditor::newFile);
    connect(ui.mnuOpen, &QAction::triggered, this, &frmEditor::openFile);
    connect(ui.mnuSave, &QAction::triggered, this, [this] { saveData(); });
    connect(ui.mnuSaveAs, &QAction::triggered, this, &frmEditor::saveAs);
    connect(ui.mnuPrint, &QAction::triggered, this, &frmEditor::printText);
    connect(ui.mnuExit, &QAction::triggered, this, &frmEditor::exitProgram);
    connect(ui.mnuUndo, &QAction::triggered, m_text, &QTextEdit::undo);
    connect(ui.mnuCut, &QAction::triggered, this, &frmEditor::cut);
    connect(ui.mnuCopy, &QAction::triggered, this, &frmEditor::copy);
    connect(ui.mnuPaste, &QAction::triggered, this, &frmEditor::paste);
    connect(ui.mnuDelete, &QAction::triggered, this, &frmEditor::deleteSelection);
    connect(ui.mnuSelectAll, &QAction::triggered, this, &frmEditor::selectAll);
    connect(ui.mnuFont, &QAction::triggered, this, &frmEditor::chooseFont);
    connect(ui.mnuForeColour, &QAction::triggered, this, &frmEditor::chooseForeColour);
    connect(ui.mnuBackColour, &QAction::triggered, this, &frmEditor::chooseBackColour);
    connect(ui.picFore, &QToolButton::clicked, this, &frmEditor::chooseForeColour);
    connect(ui.picBack, &QToolButton::clicked, this, &frmEditor::chooseBackColour);
    connect(ui.mnuBold, &QAction::triggered, this, &frmEditor::toggleBold);
    connect(ui.mnuItalic, &QAction::triggered, this, &frmEditor::toggleItalic);
    connect(ui.mnuUnderline, &QAction::triggered, this, &frmEditor::toggleUnderline);
    connect(ui.mnuStrikeout, &QAction::triggered, this, &frmEditor::toggleStrike);
    connect(ui.mnuBullets, &QAction::triggered, this, &frmEditor::toggleBullets);
    connect(ui.mnuLeft, &QAction::triggered, this, [this] { setAlignment(Qt::AlignLeft); });
    connect(ui.mnuCenter, &QAction::triggered, this, [this] { setAlignment(Qt::AlignHCenter); });
    connect(ui.mnuRight, &QAction::triggered, this, [this] { setAlignment(Qt::AlignRight); });
    connect(ui.mnuUpper, &QAction::triggered, this, [this] { changeCase(true); });
    connect(ui.mnuLower, &QAction::triggered, this, [this] { changeCase(false); });
    connect(ui.cmbFont, &QComboBox::activated, this, &frmEditor::applyFontAndSize);
    connect(ui.cmbSize, &QComboBox::activated, this, &frmEditor::applyFontAndSize);
    connect(ui.cmbStyle, &QComboBox::activated, this, &frmEditor::applyStyle);
    connect(ui.sldIndent, &QSlider::valueChanged, this, &frmEditor::applyIndent);
    connect(ui.cmbSpeed, &QComboBox::activated, this,
            [this] { m_settings.set(Keys::NewsEditorSpeed, m_ui->cmbSpeed->currentText()); });

    connect(m_text, &QTextEdit::cursorPositionChanged, this, &frmEditor::selectionChanged);
    connect(m_text, &QTextEdit::selectionChanged, this, &frmEditor::selectionChanged);
    connect(m_text, &NewsTextEdit::filesDropped, this, &frmEditor::dropFiles);
    connect(m_text, &NewsTextEdit::mouseMovedTo, this, [this](int x) {
        m_ui->ruler->setMarker(m_text->mapTo(this, QPoint(x, 0)).x() - m_ui->ruler->mapTo(this, QPoint(0, 0)).x());
    });
    m_text->installEventFilter(this);

}

qint64 frmEditor::key() const
{
    return m_mode == Mode::Edit ? m_ui->lblRef->text().toLongLong() : 0;
}

bool frmEditor::isChanged() const
{
    return m_text->document()->isModified();
}

bool frmEditor::confirmDiscard()
{
    if (!isChanged())
        return true;
    switch (m_prompt.warningYesNoCancel(changedQuestion(), tr("Tallyvo"))) {
    case Prompt::Answer::Yes:
        // A save that stored nothing (an empty text) lets the command go on; one that stored the
        // message has closed the editor, and one that failed keeps the text.
        return saveData() == SaveResult::Empty;
    case Prompt::Answer::No:
        return true;
    case Prompt::Answer::Cancel:
        break;
    }
    return false;
}

bool frmEditor::newMessage()
{
    if (!confirmDiscard())
        return false;
    m_mode = Mode::New;
    m_ui->lblRef->clear();
    m_ui->chkActive->setChecked(true);
    m_ui->cmbDirection->setCurrentIndex(0);
    startEmpty();
    // The caret waits in the box: typing at once writes the message, not into the style list.
    m_text->setFocus();
    return true;
}

bool frmEditor::editMessage(qint64 key)
{
    if (!confirmDiscard())
        return false;
    m_mode = Mode::Edit;
    m_ui->lblRef->setText(QString::number(key));
    const bool shown = getheadDetails(key);
    m_text->setFocus();
    return shown;
}

bool frmEditor::getheadDetails(qint64 key)
{
    std::optional<NewsRecord> record;
    try {
        record = NewsStore(*m_connection.db()).find(key);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return false;
    }
    if (!record) {
        m_prompt.message(tr("This message is no longer in the database; it may have been deleted at another "
                            "station."));
        m_mode = Mode::New;
        m_ui->lblRef->clear();
        return false;
    }
    // Messages stored without rich text (by a script or an older program) show their plain text.
    RtfDocument doc = Rtf::read(record->rtf);
    if (doc.plainText().isEmpty() && !record->message.isEmpty())
        doc = NewsFiles::fromLines(record->message, TextFormatter::baseIndentTwips());
    m_text->document()->setDefaultFont(m_format->baseFont());
    RichText::toDocument(doc, *m_text->document(), m_text->logicalDpiX());
    m_text->moveCursor(QTextCursor::End);
    m_ui->chkActive->setChecked(record->active);
    const int direction = m_ui->cmbDirection->findText(record->direction.trimmed());
    if (direction >= 0)
        m_ui->cmbDirection->setCurrentIndex(direction);
    m_text->document()->setModified(false);
    return true;
}

void frmEditor::stripMarkup()
{
    // Removed in place, so the formatting of the text around them stays.
    QTextDocument* doc = m_text->document();
    QTextCursor edit(doc);
    edit.beginEditBlock();
    for (const QChar c : {QLatin1Char('>'), QLatin1Char('<'), QLatin1Char('/')}) {
        QTextCursor found = doc->find(QString(c), 0);
        while (!found.isNull()) {
            found.removeSelectedText();
            found = doc->find(QString(c), found);
        }
    }
    edit.endEditBlock();
}

frmEditor::SaveResult frmEditor::saveData()
{
    stripMarkup();
    const QString text = m_text->toPlainText();
    if (text.trimmed().isEmpty())
        return SaveResult::Empty;

    NewsRecord record;
    record.message = text;
    record.rtf = Rtf::write(RichText::fromDocument(*m_text->document(), m_text->logicalDpiX()));
    record.active = m_ui->chkActive->isChecked();
    record.fontName = m_ui->cmbFont->currentText();
    record.fontSize = m_ui->cmbSize->currentText();
    const QBrush fore = m_text->textCursor().charFormat().foreground();
    record.fontColor = fore.style() == Qt::NoBrush ? 0 : bgrFromColor(fore.color());
    record.bold = m_format->baseFont().bold();
    record.italic = m_format->baseFont().italic();
    record.direction = m_ui->cmbDirection->currentText();

    try {
        const NewsStore store(*m_connection.db());
        if (m_mode == Mode::Edit) {
            record.key = key();
            if (!store.update(record)) {
                // Deleted at another station meanwhile: the text is kept as a new message.
                const qint64 newKey = store.insert(record);
                m_ui->lblRef->setText(QString::number(newKey));
                m_prompt.message(tr("The message had been deleted at another station; it is saved as a new "
                                    "message."));
            }
        } else {
            store.insert(record);
            m_settings.set(Keys::NewsEditorSpeed, m_ui->cmbSpeed->currentText());
        }
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return SaveResult::Failed;
    }
    m_closeWithoutQuestion = true;
    if (!m_inCloseEvent)
        close();
    return SaveResult::Stored;
}

void frmEditor::newFile()
{
    if (!confirmDiscard())
        return;
    startEmpty();
    setWindowTitle(tr("Untitled - "));
    m_fileName.clear();
}

void frmEditor::openFile()
{
    if (!confirmDiscard())
        return;
    const QString path = m_prompt.openFileName(
        tr("Open"), tr("Document Files (*.doc);;Text Documents (*.txt);;Rich Text Format (*.rtf);;All Files (*)"));
    if (path.isEmpty())
        return;
    if (!loadFile(path))
        return;
    setWindowTitle(tr(" Scroll Editor"));
    m_fileName = path;
}

void frmEditor::dropFiles(const QStringList& paths)
{
    // Several files at once are not one message: nothing is loaded.
    if (paths.size() != 1)
        return;
    if (!confirmDiscard())
        return;
    if (!loadFile(paths.first()))
        return;
    m_fileName = paths.first();
    const QString name = QFileInfo(m_fileName).fileName();
    setWindowTitle(name.isEmpty() ? tr("Untitled - ") : QStringLiteral(" - ") + name);
}

bool frmEditor::loadFile(const QString& path)
{
    QString refusal;
    const std::optional<RtfDocument> doc = NewsFiles::read(path, TextFormatter::baseIndentTwips(), &refusal);
    if (!doc) {
        m_prompt.message(refusal);
        return false;
    }
    m_text->document()->setDefaultFont(m_format->baseFont());
    RichText::toDocument(*doc, *m_text->document(), m_text->logicalDpiX());
    m_text->document()->setModified(false);
    return true;
}

void frmEditor::saveAs()
{
    const QString path = m_prompt.saveFileName(tr("Save As"), tr("Rich Text Format (*.rtf);;Text Documents (*.txt)"));
    if (path.isEmpty())
        return;
    const QString refusal = NewsFiles::write(path, m_text->toPlainText(),
                                             RichText::fromDocument(*m_text->document(), m_text->logicalDpiX()));
    if (!refusal.isEmpty()) {
        m_prompt.message(refusal);
        return;
    }
    m_fileName = path;
    setWindowTitle(QStringLiteral(" - ") + QFileInfo(path).fileName());
}

void frmEditor::printText()
{
    QPrinter printer;
    QTextCursor cursor = m_text->textCursor();
    bool selectionOnly = false;
    if (!m_printChooser || !m_printChooser(printer, cursor.hasSelection(), &selectionOnly))
        return;
    if (selectionOnly && !cursor.hasSelection())
        return;
    if (!selectionOnly && cursor.hasSelection()) {
        cursor.clearSelection();
        m_text->setTextCursor(cursor);
    }
    if (cursor.hasSelection()) {
        QTextDocument part;
        part.setDefaultFont(m_text->document()->defaultFont());
        QTextCursor(&part).insertFragment(cursor.selection());
        part.print(&printer);
    } else {
        m_text->document()->print(&printer);
    }
}

void frmEditor::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    // Closed from the title bar with unsaved text: the same question as before "New".
    if (!m_closeWithoutQuestion && isChanged()) {
        switch (m_prompt.warningYesNoCancel(changedQuestion(), tr("Tallyvo"))) {
        case Prompt::Answer::Cancel:
            event->ignore();
            return;
        case Prompt::Answer::No:
            break;
        case Prompt::Answer::Yes: {
            m_inCloseEvent = true;
            const SaveResult saved = saveData();
            m_inCloseEvent = false;
            if (saved == SaveResult::Failed) {
                event->ignore();
                return;
            }
            break;
        }
        }
    }
    event->accept();
    emit closed();
}

bool frmEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && watched == m_ui->cmbSize->lineEdit()) {
            applySize();
            return true;
        }
        if (enter && watched == m_ui->cmbFont->lineEdit()) {
            applyFontAndSize();
            return true;
        }
        if (key->key() == Qt::Key_Escape && watched == m_text) {
            cancel();
            return true;
        }
    }
    if (watched == m_text && (event->type() == QEvent::KeyRelease))
        showLine();
    return QMainWindow::eventFilter(watched, event);
}

void frmEditor::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void frmEditor::cancel()
{
    // Esc closes without saving and without asking.
    m_closeWithoutQuestion = true;
    close();
}


void frmEditor::toggleBold()
{
    m_format->setBold(m_ui->mnuBold->isChecked());
}

void frmEditor::toggleItalic()
{
    m_format->setItalic(m_ui->mnuItalic->isChecked());
}

void frmEditor::toggleUnderline()
{
    m_format->setUnderline(m_ui->mnuUnderline->isChecked());
}

void frmEditor::toggleStrike()
{
    m_format->setStrikeOut(m_ui->mnuStrikeout->isChecked());
}

void frmEditor::toggleBullets()
{
    m_format->toggleBullets();
    selectionChanged();
}

void frmEditor::setAlignment(Qt::Alignment alignment)
{
    m_format->setAlignment(alignment);
    selectionChanged();
}

void frmEditor::chooseFont()
{
    const std::optional<QFont> chosen = m_fontChooser ? m_fontChooser(m_format->selectionFont()) : std::nullopt;
    if (!chosen)
        return;
    const double points = m_format->applyFont(*chosen);
    m_ui->cmbFont->setCurrentText(chosen->family());
    m_ui->cmbSize->setCurrentText(QLocale::c().toString(points));
}

void frmEditor::chooseForeColour()
{
    const QColor c = m_colourChooser ? m_colourChooser(m_foreColour) : QColor();
    if (!c.isValid())
        return;
    m_foreColour = c;
    setPreview(m_ui->picFore, c);
    m_format->setForeground(c);
}

void frmEditor::chooseBackColour()
{
    const QColor c = m_colourChooser ? m_colourChooser(m_backColour) : QColor();
    if (!c.isValid())
        return;
    m_backColour = c;
    setPreview(m_ui->picBack, c);
    m_format->setBackground(c);
}

void frmEditor::setPreview(QWidget* preview, const QColor& colour)
{
    preview->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid gray;").arg(colour.name()));
}

void frmEditor::changeCase(bool upper)
{
    m_format->changeCase(upper);
}

void frmEditor::applyFontAndSize()
{
    m_format->setFontAndSize(m_ui->cmbFont->currentText(), m_ui->cmbSize->currentText());
}

void frmEditor::applySize()
{
    m_format->setSize(m_ui->cmbSize->currentText());
}

void frmEditor::applyStyle(int index)
{
    m_format->applyStyle(index);
}

int frmEditor::indentTwips(int position)
{
    return TextFormatter::indentTwips(position);
}

void frmEditor::applyIndent(int position)
{
    m_format->setIndent(position);
}

void frmEditor::cut()
{
    QTextCursor cursor = m_text->textCursor();
    if (!cursor.hasSelection())
        return;
    copy();
    cursor.removeSelectedText();
}

void frmEditor::copy()
{
    const QTextCursor cursor = m_text->textCursor();
    if (!cursor.hasSelection())
        return;
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(cursor.selection().toPlainText());
}

void frmEditor::paste()
{
    m_text->textCursor().insertText(QApplication::clipboard()->text());
}

void frmEditor::deleteSelection()
{
    m_text->textCursor().removeSelectedText();
}

void frmEditor::selectAll()
{
    m_text->setFocus();
    m_text->selectAll();
}

void frmEditor::exitProgram()
{
    // Unsaved text is asked about as before "New"; a stored message has closed the editor, which
    // here does not end the command: the program is still to end.
    if (isChanged()) {
        switch (m_prompt.warningYesNoCancel(changedQuestion(), tr("Tallyvo"))) {
        case Prompt::Answer::Cancel:
            return;
        case Prompt::Answer::No:
            break;
        case Prompt::Answer::Yes:
            if (saveData() == SaveResult::Failed)
                return;
            break;
        }
    }
    // Ending the program closes every window: the text was asked about, so closing this one on
    // the way out does not ask again. An exit refused leaves the editor as it was.
    m_exiting = m_exitHandler && m_exitHandler();
}

void frmEditor::selectionChanged()
{
    const TextFormatter::Look look = m_format->look();
    m_ui->mnuBold->setChecked(look.bold);
    m_ui->mnuItalic->setChecked(look.italic);
    m_ui->mnuUnderline->setChecked(look.underline);
    m_ui->mnuStrikeout->setChecked(look.strikeOut);
    if (look.alignment == Qt::AlignHCenter)
        m_ui->mnuCenter->setChecked(true);
    else if (look.alignment == Qt::AlignRight)
        m_ui->mnuRight->setChecked(true);
    else
        m_ui->mnuLeft->setChecked(true);
    m_ui->mnuBullets->setChecked(look.bullets);
    m_ui->cmbFont->setCurrentText(look.family);
    m_ui->cmbSize->setCurrentText(look.size);
    if (look.indentPosition >= 0) {
        const QSignalBlocker block(m_ui->sldIndent);
        m_ui->sldIndent->setValue(look.indentPosition);
    }
    showLine();
}

void frmEditor::showLine()
{
    const QTextCursor cursor = m_text->textCursor();
    const QTextBlock current = cursor.block();
    qint64 line = 0;
    for (QTextBlock b = m_text->document()->begin(); b.isValid() && b != current; b = b.next())
        line += b.layout() ? qMax(1, b.layout()->lineCount()) : 1;
    if (const QTextLayout* layout = current.layout()) {
        const QTextLine l = layout->lineForTextPosition(cursor.positionInBlock());
        line += l.isValid() ? l.lineNumber() : 0;
    }
    m_status->setText(tr("Line : ") + QLocale().toString(line + 1));
}

} // namespace tallyvo
