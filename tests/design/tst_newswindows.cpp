#include "GridTouch.h"
#include "TestSupport.h"

#include "core/Connection.h"
#include "core/Session.h"
#include "design/NewsStore.h"
#include "design/Rtf.h"
#include "design/ui/frmEditor.h"
#include "design/ui/frmScroll.h"
#include "widgets/Grid.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace tallyvo;

namespace {

struct Station {
    test::TempDatabase temp;
    test::TempSettings settings;
    Session session;
    test::ScriptedPrompt prompt;
    Connection connection{settings.store, session};

    Station() { connection.setOverride(temp.url()); }

    std::unique_ptr<frmScroll> list()
    {
        auto w = std::make_unique<frmScroll>(connection, settings.store, prompt);
        w->show();
        return w;
    }
    qint64 add(const QString& text, bool active = true)
    {
        NewsRecord r;
        r.message = text;
        r.active = active;
        return NewsStore(temp.db()).insert(r);
    }
    int count() { return temp.db().scalar(QStringLiteral("SELECT count(*) FROM tblscroll")).toInt(); }
};

Grid* grid(frmScroll& w)
{
    return test::control<Grid>(&w, "FG");
}

// "SN|Message|Active|Direction" of every row below the header.
QStringList rows(frmScroll& w)
{
    QStringList out;
    Grid* fg = grid(w);
    for (int r = 1; r < fg->rows(); ++r)
        out << QStringList{fg->textMatrix(r, 1), fg->textMatrix(r, 2), fg->textMatrix(r, 3), fg->textMatrix(r, 4)}
                   .join(QLatin1Char('|'));
    return out;
}

void click(QWidget* w, const char* name)
{
    QTest::mouseClick(test::control<QWidget>(w, name), Qt::LeftButton);
}

QTextEdit* box(frmEditor* e)
{
    return test::control<QTextEdit>(e, "rtfText");
}

void trigger(frmEditor* e, const char* action)
{
    test::control<QAction>(e, action)->trigger();
}

QSqlQuery row(Station& st, qint64 key)
{
    QSqlQuery q = st.temp.db().run(QStringLiteral("SELECT * FROM tblscroll WHERE scrollAuto=?"), {key});
    q.next();
    return q;
}

qint64 lastKey(Station& st)
{
    return st.temp.db().scalar(QStringLiteral("SELECT max(scrollAuto) FROM tblscroll")).toLongLong();
}

} // namespace

class tst_newswindows : public QObject {
    Q_OBJECT
private slots:
    void showAllAndFind();
    void deleteAsksFirst();
    void newMessageIsStrippedAndStoredWithDefaults();
    void editRewritesTheSameRow();
    void formattingReachesTheStoredText_data();
    void formattingReachesTheStoredText();
    void changedTextQuestion();
    void exitAsksAboutUnsavedText();
    void openingAndDroppingFiles();
    void speedAndFeedback();
};

void tst_newswindows::showAllAndFind()
{
    Station st;
    st.add(QStringLiteral("Today closed"));
    st.add(QStringLiteral("Open 6 days"), false);
    st.add(QStringLiteral("Dr. O'Brien's clinic"));
    st.add(QStringLiteral("50% off"));
    auto w = st.list();
    QCOMPARE(w->windowTitle(), QStringLiteral("Scroll News"));
    QCOMPARE(grid(*w)->textMatrix(0, 2), QStringLiteral("Message"));
    QCOMPARE(rows(*w), (QStringList{QStringLiteral("1|Today closed|Yes|Left"), QStringLiteral("2|Open 6 days|No|Left"),
                                    QStringLiteral("3|Dr. O'Brien's clinic|Yes|Left"), QStringLiteral("4|50% off|Yes|Left")}));

    click(w.get(), "chkAll");
    QCOMPARE(rows(*w).size(), 3);
    QVERIFY(!rows(*w).join(QString()).contains(QStringLiteral("days")));

    auto* find = test::control<QLineEdit>(w.get(), "txtFind");
    click(w.get(), "cmdFind"); // empty search: nothing changes
    QCOMPARE(rows(*w).size(), 3);
    find->setText(QStringLiteral("DAY"));
    click(w.get(), "cmdFind");
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|Today closed|Yes|Left")});
    find->setText(QStringLiteral("O'Brien"));
    click(w.get(), "cmdFind");
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|Dr. O'Brien's clinic|Yes|Left")});
    find->setText(QStringLiteral("0%"));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|50% off|Yes|Left")});
    // Un-ticking drops the search.
    click(w.get(), "chkAll");
    QCOMPARE(rows(*w).size(), 4);
    QVERIFY(st.prompt.messages.isEmpty());
}

void tst_newswindows::deleteAsksFirst()
{
    Station st;
    auto w = st.list();
    // Nothing to edit or delete in an empty grid, nor on the header.
    click(w.get(), "cmdEdit");
    QTest::mouseDClick(grid(*w)->viewport(), Qt::LeftButton);
    click(w.get(), "cmdDelete");
    QVERIFY(!w->editor());
    QVERIFY(st.prompt.questions.isEmpty());

    st.add(QStringLiteral("keep"));
    st.add(QStringLiteral("remove me"));
    w->addFG();
    QVERIFY(test::touchRow(grid(*w), QStringLiteral("remove me"), 2));
    st.prompt.answers << false;
    click(w.get(), "cmdDelete");
    QCOMPARE(st.prompt.questions, QStringList{QStringLiteral("Do you want to delete the selected")});
    QCOMPARE(st.count(), 2);
    QVERIFY(test::touchRow(grid(*w), QStringLiteral("remove me"), 2));
    st.prompt.answers << true;
    click(w.get(), "cmdDelete");
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|keep|Yes|Left")});
}

void tst_newswindows::newMessageIsStrippedAndStoredWithDefaults()
{
    Station st;
    auto w = st.list();
    click(w.get(), "cmdAdd");
    QPointer<frmEditor> e = w->editor();
    QVERIFY(e && e->isVisible());
    QCOMPARE(e->windowTitle(), QStringLiteral(" Scroll Editor."));

    // Nothing to store: the editor stays.
    trigger(e, "mnuSave");
    QVERIFY(e && e->isVisible());
    QTest::keyClicks(box(e), QStringLiteral("</>"));
    trigger(e, "mnuSave");
    QVERIFY(e && e->isVisible());
    QCOMPARE(st.count(), 0);

    QTest::keyClicks(box(e), QStringLiteral("a<b>c/d"));
    trigger(e, "mnuSave");
    QTRY_VERIFY(!e);
    QSqlQuery q = row(st, lastKey(st));
    QCOMPARE(q.value(1).toString(), QStringLiteral("abcd"));
    QCOMPARE(q.value(2).toString(), q.value(3).toString());
    QCOMPARE(Rtf::read(q.value(2).toString()).plainText(), QStringLiteral("abcd"));
    QCOMPARE(q.value(4).toString(), QStringLiteral("1"));
    QCOMPARE(q.value(5).toString(), QStringLiteral("Arial"));
    QCOMPARE(q.value(6).toString(), QStringLiteral("20"));
    QCOMPARE(q.value(7).toInt(), 0);
    QCOMPARE(q.value(10).toString(), QStringLiteral("Left"));
    QCOMPARE(st.settings.store.get(Keys::NewsEditorSpeed), QStringLiteral("30"));
    // The list shows it as soon as the editor is gone.
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|abcd|Yes|Left")});
}

void tst_newswindows::editRewritesTheSameRow()
{
    Station st;
    auto w = st.list();
    frmEditor* e = w->addNew();
    QTest::keyClicks(box(e), QStringLiteral("Plain "));
    trigger(e, "mnuBold");
    QTest::keyClicks(box(e), QStringLiteral("bold"));
    trigger(e, "mnuSave");
    const qint64 key = lastKey(st);

    QVERIFY(test::touchRow(grid(*w), QStringLiteral("Plain bold"), 2));
    click(w.get(), "cmdEdit");
    QPointer<frmEditor> edit = w->editor();
    QVERIFY(edit && edit->mode() == frmEditor::Mode::Edit);
    QCOMPARE(test::control<QLabel>(edit, "lblRef")->text(), QString::number(key));
    QCOMPARE(box(edit)->toPlainText(), QStringLiteral("Plain bold"));
    QVERIFY(!edit->isChanged());
    // The stored formatting is back in the box.
    QTextCursor c = box(edit)->textCursor();
    c.setPosition(8);
    QCOMPARE(c.charFormat().fontWeight(), int(QFont::Bold));
    c.setPosition(3);
    QCOMPARE(c.charFormat().fontWeight(), int(QFont::Normal));

    test::control<QCheckBox>(edit, "chkActive")->setChecked(false);
    test::control<QComboBox>(edit, "cmbDirection")->setCurrentText(QStringLiteral("Right"));
    box(edit)->moveCursor(QTextCursor::End);
    QTest::keyClicks(box(edit), QStringLiteral("!"));
    trigger(edit, "mnuSave");
    QTRY_VERIFY(!edit);
    QCOMPARE(st.count(), 1);
    QSqlQuery q = row(st, key);
    QCOMPARE(q.value(1).toString(), QStringLiteral("Plain bold!"));
    QCOMPARE(q.value(4).toString(), QStringLiteral("0"));
    QCOMPARE(q.value(10).toString(), QStringLiteral("Right"));
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|Plain bold!|No|Right")});

}

void tst_newswindows::formattingReachesTheStoredText_data()
{
    using Check = std::function<bool(const RtfParagraph&)>;
    using Act = std::function<void(frmEditor*)>;
    QTest::addColumn<Act>("act");
    QTest::addColumn<Check>("check");
    auto firstRun = [](std::function<bool(const RtfCharFormat&)> f) {
        return Check([f](const RtfParagraph& p) { return !p.runs.isEmpty() && f(p.runs.first().format); });
    };
    auto menu = [](const char* name) { return Act([name](frmEditor* e) { trigger(e, name); }); };
    QTest::newRow("bold") << menu("mnuBold") << firstRun([](const RtfCharFormat& f) { return f.bold; });
    QTest::newRow("italic") << menu("mnuItalic") << firstRun([](const RtfCharFormat& f) { return f.italic; });
    QTest::newRow("underline") << menu("mnuUnderline") << firstRun([](const RtfCharFormat& f) { return f.underline; });
    QTest::newRow("strikeout") << menu("mnuStrikeout") << firstRun([](const RtfCharFormat& f) { return f.strike; });
    QTest::newRow("centre") << menu("mnuCenter") << Check([](const RtfParagraph& p) { return p.align == RtfAlign::Center; });
    QTest::newRow("right") << menu("mnuRight") << Check([](const RtfParagraph& p) { return p.align == RtfAlign::Right; });
    QTest::newRow("bullets") << menu("mnuBullets") << Check([](const RtfParagraph& p) { return p.bullet; });
    QTest::newRow("fore colour") << Act([](frmEditor* e) {
        e->setColourChooser([](const QColor&) { return QColor(255, 0, 0); });
        trigger(e, "mnuForeColour");
    }) << firstRun([](const RtfCharFormat& f) { return f.color == 0xFF0000u; });
    QTest::newRow("back colour") << Act([](frmEditor* e) {
        e->setColourChooser([](const QColor&) { return QColor(255, 255, 0); });
        trigger(e, "mnuBackColour");
    }) << firstRun([](const RtfCharFormat& f) { return f.background == 0xFFFF00u; });
    QTest::newRow("font dialog") << Act([](frmEditor* e) {
        e->setFontChooser([](const QFont&) {
            QFont f(QStringLiteral("Courier New"), 14);
            f.setItalic(true);
            return std::optional<QFont>(f);
        });
        trigger(e, "mnuFont");
        QCOMPARE(test::control<QComboBox>(e, "cmbFont")->currentText(), QStringLiteral("Courier New"));
        QCOMPARE(test::control<QComboBox>(e, "cmbSize")->currentText(), QStringLiteral("14"));
    }) << firstRun([](const RtfCharFormat& f) { return f.font == QLatin1String("Courier New") && f.size == 14 && f.italic; });
    QTest::newRow("heading style") << Act([](frmEditor* e) {
        auto* style = test::control<QComboBox>(e, "cmbStyle");
        style->setCurrentIndex(1);
        emit style->activated(1);
    }) << firstRun([](const RtfCharFormat& f) { return f.size == 16 && f.bold; });
    QTest::newRow("size list") << Act([](frmEditor* e) {
        auto* size = test::control<QComboBox>(e, "cmbSize");
        size->setCurrentText(QStringLiteral("36"));
        QTest::keyClick(size->lineEdit(), Qt::Key_Return);
    }) << firstRun([](const RtfCharFormat& f) { return f.size == 36 && f.font == QLatin1String("Arial"); });
    QTest::newRow("indent") << Act([](frmEditor* e) { test::control<QSlider>(e, "sldIndent")->setValue(2); })
                            << Check([](const RtfParagraph& p) { return qAbs(p.leftIndent - (113 + 2 * 1440)) <= 15; });
    QTest::newRow("upper case") << menu("mnuUpper")
                                << Check([](const RtfParagraph& p) { return p.text().startsWith(QStringLiteral("NEWS \u00dcN")); });
}

void tst_newswindows::formattingReachesTheStoredText()
{
    using Check = std::function<bool(const RtfParagraph&)>;
    using Act = std::function<void(frmEditor*)>;
    QFETCH(Act, act);
    QFETCH(Check, check);
    Station st;
    auto w = st.list();
    QPointer<frmEditor> e = w->addNew();
    box(e)->insertPlainText(QStringLiteral("News \u00fcn\u00efc\u00f8d\u00e9 \u20ac5 \u4eca\u65e5"));
    trigger(e, "mnuSelectAll");
    act(e);
    trigger(e, "mnuSave");
    QTRY_VERIFY(!e);
    const QString rtf = row(st, lastKey(st)).value(2).toString();
    const RtfDocument doc = Rtf::read(rtf);
    QCOMPARE(doc.paragraphs.size(), 1);
    QVERIFY2(check(doc.paragraphs.first()), qPrintable(rtf));
    QCOMPARE(doc.plainText().toLower(), QStringLiteral("news \u00fcn\u00efc\u00f8d\u00e9 \u20ac5 \u4eca\u65e5"));
    // How the fuzzer's seeds were made: the editor's own output for each command.
    const QString corpus = qEnvironmentVariable("TALLYVO_RTF_CORPUS_OUT");
    if (!corpus.isEmpty()) {
        QFile out(corpus + QStringLiteral("/editor-") + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')) + QStringLiteral(".rtf"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(rtf.toLatin1());
    }
}

void tst_newswindows::changedTextQuestion()
{
    Station st;
    auto w = st.list();
    QPointer<frmEditor> e = w->addNew();
    // The caret is in the box, so what is typed first goes there; the style list's drop-down
    // shows its largest entry whole.
    QTRY_COMPARE(QApplication::focusWidget(), box(e));
    auto* style = test::control<QComboBox>(e, "cmbStyle");
    const QFont heading = style->itemData(1, Qt::FontRole).value<QFont>();
    QVERIFY(style->view()->minimumWidth() > QFontMetrics(heading).horizontalAdvance(style->itemText(1)));
    QTest::keyClicks(box(e), QStringLiteral("draft"));
    QVERIFY(e->isChanged());

    // Cancel keeps everything as it was, for New, Open and closing from the title bar.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Cancel << Prompt::Answer::Cancel << Prompt::Answer::Cancel;
    trigger(e, "mnuNew");
    trigger(e, "mnuOpen");
    e->close();
    QVERIFY(e && e->isVisible());
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("draft"));
    QCOMPARE(e->windowTitle(), QStringLiteral(" Scroll Editor."));
    QVERIFY(e->fileName().isEmpty());
    QCOMPARE(st.prompt.questions.size(), 3);
    QCOMPARE(st.prompt.questions.first(),
             QStringLiteral("The text in the untitled file has changed.\nDo you want to save the changes ?"));
    QCOMPARE(st.prompt.warningTitles.first(), QStringLiteral("Tallyvo"));

    // No: a fresh, unchanged box.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    trigger(e, "mnuNew");
    QVERIFY(box(e)->toPlainText().isEmpty());
    QCOMPARE(e->windowTitle(), QStringLiteral("Untitled - "));
    QVERIFY(!e->isChanged());

    // Yes saves, which closes the editor: the command ends there.
    QTest::keyClicks(box(e), QStringLiteral("kept"));
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Yes;
    trigger(e, "mnuNew");
    QTRY_VERIFY(!e);
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|kept|Yes|Left")});

    // Esc: closed without a question or a save, and the list refills.
    e = w->addNew();
    QTest::keyClicks(box(e), QStringLiteral("thrown away"));
    st.add(QStringLiteral("from another station"));
    const qsizetype asked = st.prompt.questions.size();
    QTest::keyClick(box(e), Qt::Key_Escape);
    QTRY_VERIFY(!e);
    QCOMPARE(st.prompt.questions.size(), asked);
    QCOMPARE(rows(*w).size(), 2);

    // Exit with an unchanged box asks nothing here and hands the end to whoever ends the program.
    QList<frmEditor*> opened;
    connect(w.get(), &frmScroll::editorOpened, this, [&](frmEditor* editor) { opened << editor; });
    e = w->addNew();
    QCOMPARE(opened, QList<frmEditor*>{e.data()});
    st.add(QStringLiteral("third"));
    int exits = 0;
    e->setExitHandler([&] { return ++exits, false; });
    const qsizetype before = st.prompt.questions.size();
    trigger(e, "mnuExit");
    QCOMPARE(exits, 1);
    QCOMPARE(st.prompt.questions.size(), before);
    QVERIFY(e && e->isVisible());
    QCOMPARE(rows(*w).size(), 2);
    delete e;
}

void tst_newswindows::exitAsksAboutUnsavedText()
{
    Station st;
    auto w = st.list();
    QPointer<frmEditor> e = w->addNew();
    int exits = 0;
    bool ending = false; // what the main window's exit comes to
    e->setExitHandler([&] { return ++exits, ending; });
    QTest::keyClicks(box(e), QStringLiteral("typed"));

    // Cancel: no exit, the editor and its text stay.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Cancel;
    trigger(e, "mnuExit");
    QCOMPARE(st.prompt.questions,
             QStringList{QStringLiteral("The text in the untitled file has changed.\nDo you want to save the changes ?")});
    QCOMPARE(exits, 0);
    QVERIFY(e && e->isVisible());
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("typed"));
    QVERIFY(e->isChanged());

    // No: nothing stored, and the exit goes on; an exit refused there leaves the text in place.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    trigger(e, "mnuExit");
    QCOMPARE(exits, 1);
    QCOMPARE(st.count(), 0);
    QVERIFY(e && e->isVisible());
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("typed"));
    // ... and closing it later asks again.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Cancel;
    QVERIFY(!e->close());
    QCOMPARE(st.prompt.questions.size(), 3);

    // No, and the program ends: ending closes every window, and this one asks nothing more.
    ending = true;
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    trigger(e, "mnuExit");
    QCOMPARE(exits, 2);
    QVERIFY(e->close());
    QCOMPARE(st.prompt.questions.size(), 4);
    QCOMPARE(st.count(), 0);
    QTRY_VERIFY(!e);

    e = w->addNew();
    e->setExitHandler([&] { return ++exits, ending; });
    QTest::keyClicks(box(e), QStringLiteral("typed"));

    // Yes: stored (which closes the editor and refills the list), then the exit goes on.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Yes;
    trigger(e, "mnuExit");
    QCOMPARE(exits, 3);
    QCOMPARE(st.count(), 1);
    QTRY_VERIFY(!e);
    QCOMPARE(rows(*w), QStringList{QStringLiteral("1|typed|Yes|Left")});

    // A save the database refuses keeps the editor, its text and the program.
    e = w->addNew();
    int refused = 0;
    e->setExitHandler([&] { return ++refused, true; });
    QTest::keyClicks(box(e), QStringLiteral("not stored"));
    QVERIFY(test::refuseWrites(*st.connection.db(), test::Refusal::CommitRefused, QStringLiteral("tblscroll")));
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Yes;
    const qsizetype shown = st.prompt.messages.size();
    trigger(e, "mnuExit");
    QCOMPARE(st.prompt.messages.size(), shown + 1);
    QCOMPARE(refused, 0);
    QVERIFY(e && e->isVisible());
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("not stored"));
    delete e;
}

void tst_newswindows::openingAndDroppingFiles()
{
    Station st;
    auto w = st.list();
    QPointer<frmEditor> e = w->addNew();
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& data) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return f.fileName();
    };
    const QString doc = write(QStringLiteral("old.doc"), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 binary", 16));
    const QString rtf = write(QStringLiteral("news.rtf"), QByteArray("{\\rtf1{\\fonttbl{\\f0 Arial;}}\\qc\\f0\\b Caf\\'e9\\par}"));
    const QString txt = write(QStringLiteral("plain.txt"), QByteArray("line one\r\nline two\r\n"));

    QTest::keyClicks(box(e), QStringLiteral("mine"));
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    st.prompt.fileAnswers.clear();
    st.prompt.fileAnswers << doc;
    trigger(e, "mnuOpen");
    QCOMPARE(st.prompt.messages.size(), 1);
    QVERIFY(st.prompt.messages.first().contains(QStringLiteral("cannot read")));
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("mine"));

    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    st.prompt.fileAnswers.clear();
    st.prompt.fileAnswers << rtf;
    trigger(e, "mnuOpen");
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("Caf\u00e9"));
    QCOMPARE(box(e)->textCursor().blockFormat().alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(e->windowTitle(), QStringLiteral(" Scroll Editor"));
    QCOMPARE(e->fileName(), rtf);
    QVERIFY(!e->isChanged());

    // Several files dropped at once load nothing; one loads.
    e->dropFiles({txt, rtf});
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("Caf\u00e9"));
    e->dropFiles({txt});
    QCOMPARE(box(e)->toPlainText(), QStringLiteral("line one\nline two"));
    QCOMPARE(e->windowTitle(), QStringLiteral(" - plain.txt"));
    QCOMPARE(st.prompt.messages.size(), 1);
}

void tst_newswindows::speedAndFeedback()
{
    Station st;
    auto w = st.list();
    QPointer<frmEditor> e = w->addNew();
    auto* speed = test::control<QComboBox>(e, "cmbSpeed");
    QCOMPARE(speed->currentText(), QStringLiteral("30"));
    speed->setCurrentText(QStringLiteral("50"));
    emit speed->activated(speed->currentIndex());
    QCOMPARE(test::control<QComboBox>(e, "cmbFont")->currentText(), QStringLiteral("Arial"));

    QTest::keyClicks(box(e), QStringLiteral("one"));
    QTest::keyClick(box(e), Qt::Key_Return);
    QTest::keyClicks(box(e), QStringLiteral("two"));
    QCOMPARE(test::control<QLabel>(e, "status")->text(), QStringLiteral("Line : 2"));

    // Exactly one alignment is checked, and it follows the caret.
    trigger(e, "mnuCenter");
    auto checks = [&] {
        return QString::number(test::control<QAction>(e, "mnuLeft")->isChecked()) +
               QString::number(test::control<QAction>(e, "mnuCenter")->isChecked()) +
               QString::number(test::control<QAction>(e, "mnuRight")->isChecked());
    };
    QCOMPARE(checks(), QStringLiteral("010"));
    box(e)->moveCursor(QTextCursor::Start);
    QCOMPARE(checks(), QStringLiteral("100"));
    QCOMPARE(test::control<QLabel>(e, "status")->text(), QStringLiteral("Line : 1"));
    QTest::keyClick(box(e), Qt::Key_Escape);
    QTRY_VERIFY(!e);

    e = w->addNew();
    QCOMPARE(test::control<QComboBox>(e, "cmbSpeed")->currentText(), QStringLiteral("50"));
    delete e;
}

TALLYVO_TEST_MAIN(tst_newswindows)
#include "tst_newswindows.moc"
