// A display designed from start to end: a theme made in the editor, its regions drawn in the
// designer and its captions typed in the header window, chosen in the settings and started by the
// main window, shows every region where it was drawn, at double size.
#include "GridTouch.h"
#include "shell/ShellStation.h"

#include "core/Database.h"
#include "design/ui/ThemeDesign.h"
#include "design/ui/frmHeader.h"
#include "design/ui/frmPos.h"
#include "design/ui/frmThLst.h"
#include "design/ui/frmTheme.h"
#include "display/ui/MediaPane.h"
#include "display/ui/MoviePanes.h"
#include "display/ui/ScrollPanes.h"
#include "display/ui/frmDisplay.h"
#include "shell/MDI.h"
#include "shell/frmSettings.h"
#include "widgets/Grid.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace tallyvo;
using Region = LayoutStore::Region;

class tst_designendtoend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void designedThemeIsWhatTheDisplayShows();
};

namespace {

void leave(QLineEdit* box, const QString& text)
{
    box->setText(text);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &out);
}

void drag(QWidget* w, QPoint from, QPoint to)
{
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QTest::mouseMove(w, to);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

QRect doubled(const QRect& r)
{
    return QRect(r.x() * 2, r.y() * 2, r.width() * 2, r.height() * 2);
}

} // namespace

void tst_designendtoend::designedThemeIsWhatTheDisplayShows()
{
    test::ShellStation st;
    MDI mdi(st.services());
    mdi.load();
    mdi.show();
    frmSettings* settings = mdi.settings_Click();
    auto* themes = test::control<QComboBox>(settings, "cmbTheme");
    QCOMPARE(themes->count(), 2);

    // The theme, in the editor opened from the main window's theme list.
    QAction* entry = mdi.action(QStringLiteral("thmLst"));
    QVERIFY(entry->isEnabled());
    entry->trigger();
    QPointer<frmThLst> list = mdi.themeDesign().themeList();
    QVERIFY(list && list->isVisible());
    QCOMPARE(list->FG()->rows(), 3);
    QTest::mouseClick(test::control<QPushButton>(list, "cmdAdd"), Qt::LeftButton);
    frmTheme* editor = mdi.themeDesign().openedEditor();
    QVERIFY(editor && editor->isVisible());
    const QString name = QStringLiteral("O'Hara's Hall");
    test::control<QLineEdit>(editor, "txtName")->setText(name);
    leave(test::control<QLineEdit>(editor, "txtCols"), QStringLiteral("3"));
    QCOMPARE(test::control<QLineEdit>(editor, "txtWidth")->text(), QStringLiteral("2500;2500;2500"));
    test::control<QLineEdit>(editor, "txtWidth")->setText(QStringLiteral("2000;1500;1000"));
    leave(test::control<QLineEdit>(editor, "txtRows"), QStringLiteral("5"));
    test::control<QLineEdit>(editor, "txtTitle")->setText(QStringLiteral("Welcome"));
    test::control<QComboBox>(editor, "cmbType")->setCurrentIndex(1); // Horrizontal
    QTest::mouseClick(test::control<QPushButton>(editor, "cmdSave"), Qt::LeftButton);
    QVERIFY(!editor->isVisible());
    // Offered at once by the list and by the settings window that stayed open.
    QCOMPARE(list->FG()->rows(), 4);
    QCOMPARE(themes->count(), 3);
    QCOMPARE(themes->itemText(2), name);

    // Its regions, in the designer opened for the theme edited from the list.
    QVERIFY(test::touchRow(list->FG(), name, 3));
    QTest::mouseClick(test::control<QPushButton>(list, "cmdEdit"), Qt::LeftButton);
    QVERIFY(editor->isVisible());
    QTest::mouseClick(test::control<QPushButton>(editor, "cmdPosition"), Qt::LeftButton);
    frmPos* pos = editor->designer();
    QVERIFY(pos && pos->isVisible());
    const QSize screen = pos->screen()->geometry().size();
    QCOMPARE(pos->frameGeometry().size(), screen / 2); // a landscape model
    pos->Design_Click();
    drag(pos->region(Region::Video), QPoint(20, 20), QPoint(50, 35));
    drag(pos->region(Region::Logo), QPoint(5, 5), QPoint(15, 12));
    QLabel* table = pos->region(Region::Table);
    drag(table, QPoint(5, 5), QPoint(5, 5)); // selects it, handles around it
    const int tableWidth = table->width();
    const QPoint tableRight(table->x() + table->width(), table->y() + 10);
    drag(pos->picHandle(3), QPoint(2, 2), pos->picHandle(3)->mapFrom(pos->surface(), tableRight + QPoint(40, 0)));
    pos->Save_Click();

    // Its captions, one per column, in the header window.
    QTest::mouseClick(test::control<QPushButton>(editor, "cmdHeader"), Qt::LeftButton);
    QPointer<frmHeader> header = editor->headerWindow();
    QVERIFY(header);
    const QStringList captions{QStringLiteral("No."), QStringLiteral("Desk"), QStringLiteral("Patient's note")};
    QCOMPARE(header->captionBoxes().size(), 3);
    for (int i = 0; i < 3; ++i)
        header->captionBoxes().at(i)->setText(captions.at(i));
    QTest::mouseClick(test::control<QPushButton>(header, "cmdSave"), Qt::LeftButton);
    QTRY_VERIFY(!header);

    // Chosen in the settings, started by the main window.
    themes->setCurrentIndex(2);
    QVERIFY(settings->Command1_Click());
    QVERIFY(mdi.themeKey() > 0);
    QCOMPARE(QString::number(mdi.themeKey()), editor->ref());
    mdi.display_Click();
    QPointer<frmDisplay> display = mdi.displayWindow();
    QVERIFY(display);
    display->startNews();

    QCOMPARE(display->size(), pos->frameGeometry().size() * 2);
    QCOMPARE(display->SFLogo()->geometry(), doubled(pos->region(Region::Logo)->geometry()));
    QCOMPARE(display->SFTime()->geometry(), doubled(pos->region(Region::Time)->geometry()));
    QCOMPARE(display->lblTime()->geometry(), doubled(pos->region(Region::Time)->geometry()));
    QCOMPARE(display->FG()->geometry(), doubled(pos->region(Region::Table)->geometry()));
    QCOMPARE(display->videoPane()->geometry(), doubled(pos->region(Region::Video)->geometry()));
    QCOMPARE(display->lblTtl()->geometry(), doubled(pos->region(Region::Title)->geometry()));
    const QRect news = doubled(pos->region(Region::News)->geometry());
    QCOMPARE(display->newsBand()->geometry().top(), news.top());
    QCOMPARE(display->newsBand()->geometry().height(), news.height());
    // The regions really moved where they were dragged.
    QCOMPARE(pos->region(Region::Video)->geometry().topLeft(), QPoint(16 + 30, 256 + 15));
    QCOMPARE(table->width(), tableWidth + 40);

    Grid* fg = display->FG();
    QCOMPARE(fg->cols(), 4);
    QCOMPARE(display->R(), 5);
    QCOMPARE(fg->colWidth(1), 4000);
    QCOMPARE(fg->colWidth(3), 2000);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(fg->textMatrix(0, i + 1), captions.at(i));
    QCOMPARE(display->lblTtl()->isVisible(), true);

    mdi.display_Click();
    QTRY_VERIFY(display.isNull());
}

TALLYVO_TEST_MAIN(tst_designendtoend)
#include "tst_designendtoend.moc"
