#include "GridTouch.h"
#include "shell/ShellStation.h"

#include <QPointer>

#include "core/Database.h"
#include "design/ThemeStore.h"
#include "design/ui/ColorSwatch.h"
#include "design/ui/ThemeDesign.h"
#include "design/ui/frmHeader.h"
#include "design/ui/frmPos.h"
#include "design/ui/frmThLst.h"
#include "design/ui/frmTheme.h"
#include "widgets/Grid.h"
#include "widgets/frmclklst.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>

using namespace tallyvo;

namespace {

// The editor and list as the main window has them, on a database of their own.
struct Editing {
    test::ShellStation st{false};
    QWidget owner;
    ThemeDesign design{st.connection, st.settings.store, st.prompt, &owner};

    frmTheme* editor() { return design.themeEditor(); }
    template <typename T> T* in(const char* name) { return test::control<T>(editor(), name); }
    QLineEdit* box(const char* name) { return in<QLineEdit>(name); }

    // Types into a box and leaves it, as a user tabbing on would.
    void type(const char* name, const QString& text)
    {
        QLineEdit* b = box(name);
        b->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(b, &out);
    }
    Database& db() { return st.temp.db(); }
    int themes() { return db().scalar(QStringLiteral("SELECT count(*) FROM tbltheme")).toInt(); }
};

} // namespace

class tst_themeeditor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void saveCorrectsAndRefuses_data();
    void saveCorrectsAndRefuses();
    void numberBoxesResetWhenLeft_data();
    void numberBoxesResetWhenLeft();
    void untouchedNewThemeStoresTheInitialLook();
    void swatchesAndPathBoxes();
    void editRewritesTheSameRowAndKeepsItsType();
    void positionHeaderAndClockBelongToASavedTheme();
    void headerWindowHasABoxPerColumn();
    void listDeletesOnlyTheTheme();
};

void tst_themeeditor::saveCorrectsAndRefuses_data()
{
    QTest::addColumn<QString>("colums");
    QTest::addColumn<QString>("widths"); // typed after leaving "Colums"; "-" leaves the filled text
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // "" when the theme is saved
    QTest::addColumn<QString>("stored");
    const QString refused = QStringLiteral("Please Enter a valid colum widths");
    QTest::newRow("3 columns fill 3 widths") << "3" << "-" << "Lobby" << "" << "2500;2500;2500";
    QTest::newRow("2 columns with 3 widths") << "2" << "2500;2500;2500" << "Lobby" << refused << "";
    QTest::newRow("empty middle width") << "3" << "2500;;2500" << "Lobby" << "" << "2500;;2500";
    QTest::newRow("letters in the widths") << "2" << "2500;abc" << "Lobby" << refused << "";
    QTest::newRow("columns not a number become 2") << "many" << "-" << "Lobby" << "" << "2500;2500";
    QTest::newRow("no name") << "2" << "-" << "" << "Please select a name" << "";
    QTest::newRow("apostrophe in the name") << "1" << "-" << "Dr O'Neil's" << "" << "2500";
}

void tst_themeeditor::saveCorrectsAndRefuses()
{
    QFETCH(QString, colums);
    QFETCH(QString, widths);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, stored);
    Editing e;
    e.box("txtName")->setText(name);
    e.type("txtCols", colums);
    if (widths != QLatin1String("-"))
        e.box("txtWidth")->setText(widths);
    e.type("txtDuration", QStringLiteral("7"));
    e.editor()->show();

    const bool saved = e.editor()->cmdSave_Click();
    // The slide duration is kept even when the theme is refused.
    QCOMPARE(e.st.get(Keys::PicDuration), QStringLiteral("7"));
    if (!message.isEmpty()) {
        QVERIFY(!saved);
        QCOMPARE(e.st.prompt.messages, QStringList{message});
        QCOMPARE(e.themes(), 0);
        QVERIFY(e.editor()->isVisible());
        return;
    }
    QVERIFY(saved);
    QVERIFY(e.st.prompt.messages.isEmpty());
    QVERIFY(!e.editor()->isVisible()); // hidden, not gone
    QVERIFY(e.design.openedEditor());
    QSqlQuery q = e.db().run(QStringLiteral("SELECT themename, colwidth FROM tbltheme"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), name);
    QCOMPARE(q.value(1).toString(), stored);
}

void tst_themeeditor::numberBoxesResetWhenLeft_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::newRow("rows") << "txtRows" << "ten" << "2";
    QTest::newRow("row height") << "txtRowHeight" << "?" << "200";
    QTest::newRow("volume 10") << "txtVolume" << "10" << "10";
    QTest::newRow("volume 11") << "txtVolume" << "11" << "5";
    QTest::newRow("line width 0") << "txtLineWidth" << "0" << "1";
    QTest::newRow("page interval") << "txtInterval" << "soon" << "3000";
    QTest::newRow("slide duration") << "txtDuration" << "" << "5";
}

void tst_themeeditor::numberBoxesResetWhenLeft()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, left);
    Editing e;
    const QByteArray name = box.toLatin1();
    e.type(name.constData(), typed);
    QCOMPARE(e.box(name.constData())->text(), left);
}

void tst_themeeditor::untouchedNewThemeStoresTheInitialLook()
{
    Editing e;
    frmTheme* w = e.editor();
    QCOMPARE(w->windowTitle(), QStringLiteral("Create Theme"));
    QCOMPARE(e.box("txtRows")->text(), QStringLiteral("12"));
    QCOMPARE(e.box("txtRowHeight")->text(), QStringLiteral("500"));
    QCOMPARE(e.box("txtDuration")->text(), QStringLiteral("5"));
    QCOMPARE(e.box("txtInterval")->text(), QStringLiteral("3000"));
    QCOMPARE(e.in<QComboBox>("cmbType")->currentText(), QStringLiteral("Vertical"));
    QCOMPARE(e.in<QComboBox>("cmbType")->itemText(1), QStringLiteral("Horrizontal"));
    QCOMPARE(e.in<QComboBox>("cmbHdSize")->count(), 25);
    QCOMPARE(e.in<QComboBox>("cmbHdSize")->itemText(24), QStringLiteral("50"));
    QVERIFY(e.in<QComboBox>("cmbTtlFont")->count() > 0);
    QVERIFY(!e.in<QPushButton>("cmdScroll")->isEnabled());
    QCOMPARE(w->findChildren<ColorSwatch*>().size(), 13);

    e.box("txtName")->setText(QStringLiteral("Fresh"));
    e.type("txtCols", QStringLiteral("2"));
    QVERIFY(w->cmdSave_Click());
    const qint64 key = ThemeStore::list(e.db()).at(0).key;
    const QVariantList stored = *ThemeStore::load(e.db(), key);
    const QVariantList initial = ThemeStore::initialValues();
    const auto columns = ThemeStore::columns();
    for (size_t i = 1; i < columns.size(); ++i) {
        const auto at = static_cast<qsizetype>(i);
        if (columns[i].form == ThemeStore::Form::Colour)
            QCOMPARE(stored.at(at).toInt(), 4210752);
        else if (columns[i].name != QLatin1String("colwidth"))
            QCOMPARE(stored.at(at).toString(), initial.at(at).toString());
    }
}

void tst_themeeditor::swatchesAndPathBoxes()
{
    Editing e;
    std::optional<int> answer = 0x0000FF;
    QString asked;
    e.editor()->setColorChooser([&](int current, const QString& caption) {
        asked = caption + QLatin1Char('/') + QString::number(current);
        return answer;
    });
    auto* screen = e.in<ColorSwatch>("swScreen");
    QTest::mouseClick(screen, Qt::LeftButton);
    QCOMPARE(asked, QStringLiteral("Screen BG/4210752"));
    QCOMPARE(screen->bgr(), 0x0000FF);
    answer.reset(); // cancelled
    QTest::mouseClick(screen, Qt::LeftButton);
    QCOMPARE(screen->bgr(), 0x0000FF);

    QLineEdit* logo = e.box("txtLogo");
    QVERIFY(logo->isReadOnly());
    e.st.prompt.fileAnswers.enqueue(QStringLiteral("/srv/pictures/logo.gif"));
    QTest::mouseClick(e.in<QPushButton>("cmdLogo"), Qt::LeftButton);
    QCOMPARE(logo->text(), QStringLiteral("/srv/pictures/logo.gif"));
    QTest::mouseClick(e.in<QPushButton>("cmdLogo"), Qt::LeftButton); // cancelled
    QCOMPARE(logo->text(), QStringLiteral("/srv/pictures/logo.gif"));
    QTest::keyClick(logo, Qt::Key_Delete);
    QCOMPARE(logo->text(), QString());
    // Other boxes take Delete as usual.
    e.box("txtName")->setText(QStringLiteral("ab"));
    e.box("txtName")->setCursorPosition(0);
    QTest::keyClick(e.box("txtName"), Qt::Key_Delete);
    QCOMPARE(e.box("txtName")->text(), QStringLiteral("b"));

    e.box("txtName")->setText(QStringLiteral("Coloured"));
    e.type("txtCols", QStringLiteral("2"));
    QVERIFY(e.editor()->cmdSave_Click());
    QCOMPARE(e.db().scalar(QStringLiteral("SELECT screenclr FROM tbltheme")).toInt(), 255);
    QCOMPARE(e.db().scalar(QStringLiteral("SELECT logo FROM tbltheme")).toString(), QString());
}

void tst_themeeditor::editRewritesTheSameRowAndKeepsItsType()
{
    Editing e;
    e.box("txtName")->setText(QStringLiteral("Hall"));
    e.type("txtCols", QStringLiteral("2"));
    e.in<QComboBox>("cmbType")->setCurrentIndex(1);
    QVERIFY(e.editor()->cmdSave_Click());
    e.editor()->close(); // closing forgets the values; the next editor starts afresh
    QTRY_VERIFY(!e.design.openedEditor());

    frmThLst* list = e.design.showThemeList();
    QCOMPARE(list->windowTitle(), QStringLiteral("Theme List"));
    QCOMPARE(list->FG()->rows(), 2);
    QCOMPARE(list->FG()->textMatrix(1, 1), QStringLiteral("1"));
    QCOMPARE(list->FG()->textMatrix(1, 2), QStringLiteral("Horrizontal"));
    QVERIFY(test::touchRow(list->FG(), QStringLiteral("Hall"), 3));
    list->cmdEdit_Click();

    frmTheme* w = e.editor();
    QVERIFY(w->isVisible());
    QCOMPARE(e.box("txtName")->text(), QStringLiteral("Hall"));
    QCOMPARE(e.in<QComboBox>("cmbType")->currentText(), QStringLiteral("Horrizontal"));
    QVERIFY(!e.in<QComboBox>("cmbType")->isEnabled());
    const QString key = w->ref();
    e.box("txtName")->setText(QStringLiteral("Hall 2"));
    e.in<QCheckBox>("chkScroll")->setChecked(true);
    QVERIFY(w->cmdSave_Click());
    QCOMPARE(e.themes(), 1);
    QCOMPARE(e.db().scalar(QStringLiteral("SELECT themename FROM tbltheme WHERE themeauto=?"), {key}).toString(),
             QStringLiteral("Hall 2"));
    QCOMPARE(e.db().scalar(QStringLiteral("SELECT scroll FROM tbltheme")).toInt(), 1);
    QCOMPARE(list->FG()->textMatrix(1, 3), QStringLiteral("Hall 2")); // the list follows

    // "Add New" keeps the values as a start, but the new theme may choose its type.
    list->cmdAdd_Click();
    QCOMPARE(w->ref(), QString());
    QVERIFY(e.in<QComboBox>("cmbType")->isEnabled());
    QCOMPARE(e.box("txtName")->text(), QStringLiteral("Hall 2"));

    // A theme deleted by another station meanwhile: nothing is written and the user is told.
    w->setRef(key);
    e.db().run(QStringLiteral("DELETE FROM tbltheme"));
    QVERIFY(!w->cmdSave_Click());
    QCOMPARE(e.themes(), 0);
    QCOMPARE(e.st.prompt.messages.size(), 1);
    QVERIFY(w->isVisible());
}

void tst_themeeditor::positionHeaderAndClockBelongToASavedTheme()
{
    QTemporaryDir faces;
    QFile face(faces.filePath(QStringLiteral("round.svg")));
    QVERIFY(face.open(QIODevice::WriteOnly));
    face.write("<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>");
    face.close();

    Editing e;
    frmTheme* w = e.editor();
    w->setClockFolder(faces.path());
    QTest::mouseClick(e.in<QPushButton>("cmdPosition"), Qt::LeftButton);
    QTest::mouseClick(e.in<QPushButton>("cmdHeader"), Qt::LeftButton);
    QVERIFY(!w->designer());
    QVERIFY(!w->headerWindow());

    // The clock chooser works for a new theme too, and fills the clock box.
    QTest::mouseClick(e.in<QPushButton>("cmdClock"), Qt::LeftButton);
    QPointer<frmclklst> picker = w->clockPicker();
    QVERIFY(picker && picker->isVisible() && picker->parent() == w && !picker->isModal());
    test::control<QListWidget>(picker, "fle")->setCurrentRow(0);
    picker->Command1_Click();
    QCOMPARE(e.box("txtClock")->text(), QStringLiteral("round.svg"));
    QTRY_VERIFY(!picker);

    e.box("txtName")->setText(QStringLiteral("Tall"));
    e.type("txtCols", QStringLiteral("2"));
    QVERIFY(w->cmdSave_Click());
    w->show();
    QTest::mouseClick(e.in<QPushButton>("cmdPosition"), Qt::LeftButton);
    frmPos* pos = w->designer();
    QVERIFY(pos && pos->isVisible() && pos->parent() == w);
    QCOMPARE(pos->ref(), w->ref());
    QCOMPARE(pos->windowTitle(), QStringLiteral("Vertical Display"));
    // A vertical theme's model stands on its side: half the screen's height wide.
    const QSize screen = pos->screen()->geometry().size();
    QCOMPARE(pos->frameGeometry().size(), QSize(screen.height() / 2, screen.width() / 2));
}

void tst_themeeditor::headerWindowHasABoxPerColumn()
{
    Editing e;
    frmTheme* w = e.editor();
    e.box("txtName")->setText(QStringLiteral("Three"));
    e.type("txtCols", QStringLiteral("3"));
    e.box("txtColumn1")->setText(QStringLiteral("Token"));
    e.box("txtColumn2")->setText(QStringLiteral("Counter"));
    QVERIFY(w->cmdSave_Click());
    w->show();
    QTest::mouseClick(e.in<QPushButton>("cmdHeader"), Qt::LeftButton);
    QPointer<frmHeader> header = w->headerWindow();
    QVERIFY(header && header->isVisible());
    QList<QLineEdit*> boxes = header->captionBoxes();
    QCOMPARE(boxes.size(), 3);
    // Without a row of its own the theme's two captions are the start.
    QCOMPARE(boxes.at(0)->text(), QStringLiteral("Token"));
    QCOMPARE(boxes.at(1)->text(), QStringLiteral("Counter"));
    QCOMPARE(boxes.at(2)->text(), QString());
    boxes.at(2)->setText(QStringLiteral("Room's floor"));
    QTest::mouseClick(test::control<QPushButton>(header, "cmdSave"), Qt::LeftButton);
    QTRY_VERIFY(!header);
    QSqlQuery q = e.db().run(QStringLiteral("SELECT * FROM tblheader WHERE themeauto=?"), {w->ref()});
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toString(), QStringLiteral("Token"));
    QCOMPARE(q.value(3).toString(), QStringLiteral("Room's floor"));

    // Opened again it shows what is stored.
    w->cmdHeader_Click();
    QCOMPARE(w->headerWindow()->captionBoxes().at(2)->text(), QStringLiteral("Room's floor"));
}

void tst_themeeditor::listDeletesOnlyTheTheme()
{
    Editing e;
    for (const char* name : {"Keep", "Drop"}) {
        e.editor()->setRef(QString());
        e.box("txtName")->setText(QString::fromLatin1(name));
        e.type("txtCols", QStringLiteral("2"));
        QVERIFY(e.editor()->cmdSave_Click());
    }
    const qint64 drop = ThemeStore::list(e.db()).at(1).key;
    e.db().run(QStringLiteral("INSERT INTO tblpos (themeauto, logoleft) VALUES (?, 1)"), {drop});

    frmThLst* list = e.design.showThemeList();
    QCOMPARE(list->FG()->rows(), 3);
    list->FG()->setRow(0); // the header row: nothing selected
    list->cmdDelete_Click();
    QVERIFY(e.st.prompt.questions.isEmpty());

    QVERIFY(test::touchRow(list->FG(), QStringLiteral("Drop"), 3));
    e.st.prompt.answers.enqueue(false);
    list->cmdDelete_Click();
    QCOMPARE(e.themes(), 2);
    e.st.prompt.answers.enqueue(true);
    list->cmdDelete_Click();
    QCOMPARE(e.st.prompt.questions.last(), QStringLiteral("Do you want to delete the selected "));
    QCOMPARE(e.themes(), 1);
    QCOMPARE(list->FG()->rows(), 2);
    QCOMPARE(list->FG()->textMatrix(1, 3), QStringLiteral("Keep"));
    QCOMPARE(e.db().scalar(QStringLiteral("SELECT count(*) FROM tblpos WHERE themeauto=?"), {drop}).toInt(), 1);

    list->show();
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!e.design.themeList());
}

TALLYVO_TEST_MAIN(tst_themeeditor)
#include "tst_themeeditor.moc"
