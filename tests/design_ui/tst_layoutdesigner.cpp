#include "shell/ShellStation.h"

#include "core/Database.h"
#include "design/LayoutStore.h"
#include "design/ThemeStore.h"
#include "design/ui/frmPos.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWindow>

using namespace tallyvo;
using Region = LayoutStore::Region;

Q_DECLARE_METATYPE(tallyvo::LayoutStore::Region)

namespace {

struct Designing {
    test::ShellStation st{false};
    qint64 key = 0;
    std::unique_ptr<frmPos> pos;

    Designing()
    {
        QVariantList v = ThemeStore::initialValues();
        v[0] = QStringLiteral("Model");
        key = ThemeStore::add(st.temp.db(), v);
        pos = std::make_unique<frmPos>(st.connection, st.prompt);
        pos->setRef(QString::number(key));
        pos->getData();
        pos->hor();
        pos->show();
    }
    int rows() { return st.temp.db().scalar(QStringLiteral("SELECT count(*) FROM tblpos")).toInt(); }
    QLabel* video() { return pos->region(Region::Video); }
    // Press and release on a region without moving: selects it.
    void select(QLabel* region)
    {
        QTest::mousePress(region, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(region, Qt::LeftButton, {}, QPoint(5, 5));
    }
    // A drag with the left button from one point of a widget to another (both the widget's own).
    static void drag(QWidget* w, QPoint from, QPoint to)
    {
        QTest::mousePress(w, Qt::LeftButton, {}, from);
        QTest::mouseMove(w, (from + to) / 2);
        QTest::mouseMove(w, to);
        QTest::mouseRelease(w, Qt::LeftButton, {}, to);
    }
};

} // namespace

class tst_layoutdesigner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dragsFollowTheMouse_data();
    void dragsFollowTheMouse();
    void pressOnEmptySurface();
    void designModeGovernsSelection();
    void cursorStaysInTheWindow();
    void saveAddsThenUpdatesTheRow();
};

void tst_layoutdesigner::dragsFollowTheMouse_data()
{
    // In surface pixels (15 twips each) the regions start at: title 16, 8 to 313, 25; time 184, 24
    // to 313, 73; token table 16, 80 to 313, 257; video 16, 256 to 313, 385.
    QTest::addColumn<Region>("region");
    QTest::addColumn<int>("handle"); // -1 drags the region itself
    QTest::addColumn<QPoint>("to");  // where the pointer ends, in surface pixels
    QTest::addColumn<QRectF>("twips");
    QTest::newRow("video move") << Region::Video << -1 << QPoint(16 + 50 + 30, 256 + 50 - 40)
                                << QRectF(690, 3240, 4455, 1935);
    QTest::newRow("title bottom edge") << Region::Title << 5 << QPoint(100, 70) << QRectF(240, 120, 4455, 930);
    QTest::newRow("table right edge") << Region::Table << 3 << QPoint(363, 150) << QRectF(240, 1200, 5205, 2655);
    QTest::newRow("table bottom-right corner") << Region::Table << 4 << QPoint(353, 300)
                                               << QRectF(240, 1200, 5055, 3300);
    QTest::newRow("video top edge") << Region::Video << 1 << QPoint(100, 206) << QRectF(240, 3090, 4455, 2685);
    QTest::newRow("video left edge") << Region::Video << 7 << QPoint(56, 300) << QRectF(840, 3840, 3855, 1935);
    QTest::newRow("video top-left corner") << Region::Video << 0 << QPoint(6, 246) << QRectF(90, 3690, 4605, 2085);
    QTest::newRow("video left edge past the right one") << Region::Video << 7 << QPoint(338, 300)
                                                        << QRectF(4695, 3840, 375, 1935);
    QTest::newRow("video bottom edge past the top one") << Region::Video << 5 << QPoint(100, 226)
                                                        << QRectF(240, 3390, 4455, 450);
    QTest::newRow("time bottom-left corner") << Region::Time << 6 << QPoint(144, 123)
                                             << QRectF(2160, 360, 2535, 1485);
    QTest::newRow("time top-right corner") << Region::Time << 2 << QPoint(363, 4) << QRectF(2760, 60, 2685, 1035);
}

// Every event goes to the window at a window position, as the pointer's would: Qt picks the
// widget under the pointer and applies its own grab rules, so a handle hidden by its own press
// is exactly as a user finds it.
void tst_layoutdesigner::dragsFollowTheMouse()
{
    QFETCH(Region, region);
    QFETCH(int, handle);
    QFETCH(QPoint, to);
    QFETCH(QRectF, twips);
    Designing d;
    QCOMPARE(d.pos->twipsPerPixel(), 15.0);
    QLabel* box = d.pos->region(region);
    const QRectF before = d.pos->regionTwips(region);
    QCOMPARE(box->geometry(), QRect(int(before.x() / 15), int(before.y() / 15), int(before.width() / 15),
                                    int(before.height() / 15)));
    // The test screen is 800 x 600: a model of half its size cuts off the video region's bottom,
    // whose handles a pointer could not reach.
    d.pos->resize(900, 620);
    d.pos->Save_Click(); // design mode, and the row stored as it starts

    QWidget* surface = d.pos->surface();
    QWindow* window = d.pos->windowHandle();
    QVERIFY(window);
    const auto at = [&](QPoint onSurface) { return surface->mapTo(d.pos.get(), onSurface); };
    QPoint from;
    if (handle < 0) {
        from = box->geometry().topLeft() + QPoint(50, 50);
    } else {
        const QPoint centre = box->geometry().center();
        QTest::mouseClick(window, Qt::LeftButton, {}, at(centre));
        QCOMPARE(d.pos->currentControl(), int(region));
        QWidget* h = d.pos->picHandle(handle);
        QVERIFY(h->isVisible());
        from = h->geometry().center();
        QCOMPARE(surface->childAt(from), h);
    }
    QTest::mousePress(window, Qt::LeftButton, {}, at(from));
    QCOMPARE(d.pos->dragState(), handle < 0 ? frmPos::Moving : frmPos::Sizing);
    if (handle >= 0)
        QVERIFY(!d.pos->picHandle(handle)->isVisible());
    QTest::mouseMove(window, at((from + to) / 2));
    QTest::mouseMove(window, at(to));
    // While dragging only the outline moves.
    QCOMPARE(d.pos->regionTwips(region), before);
    if (handle < 0)
        QCOMPARE(d.pos->dragRect().Left, surface->mapToGlobal(to).x() - 50);
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(to));

    QCOMPARE(d.pos->dragState(), frmPos::None);
    QCOMPARE(d.pos->regionTwips(region), twips);
    QCOMPARE(box->geometry(), QRect(int(twips.x() / 15), int(twips.y() / 15), int(twips.width() / 15),
                                    int(twips.height() / 15)));
    // The handles stand around the region where it now is.
    for (int k = 0; k < 8; ++k)
        QVERIFY(d.pos->picHandle(k)->isVisible());
    const QRect now = box->geometry();
    QVERIFY(qAbs(d.pos->picHandle(0)->geometry().center().x() - now.left()) <= 2);
    QVERIFY(qAbs(d.pos->picHandle(4)->geometry().center().y() - now.bottom()) <= 2);
    QVERIFY(qAbs(d.pos->picHandle(1)->geometry().center().x() - now.center().x()) <= 2);

    // "Save" stores the new place and size; the other regions are as they were.
    d.pos->Save_Click();
    const std::optional<LayoutStore::Stored> stored = LayoutStore::load(d.st.temp.db(), d.key);
    QVERIFY(stored);
    for (const LayoutStore::RegionLook& look : LayoutStore::regions()) {
        const LayoutStore::Stored::Rect& r = stored->regions[static_cast<size_t>(look.region)];
        const QRectF want = look.region == region ? twips : look.initial;
        QCOMPARE(QRectF(r[0].value_or(-1), r[1].value_or(-1), r[2].value_or(-1), r[3].value_or(-1)), want);
    }
}

void tst_layoutdesigner::pressOnEmptySurface()
{
    Designing d;
    d.pos->Design_Click();
    QWidget* surface = d.pos->surface();
    QWindow* window = d.pos->windowHandle();
    const auto at = [&](QPoint onSurface) { return surface->mapTo(d.pos.get(), onSurface); };
    const QPoint empty(surface->width() - 3, 3);
    QVERIFY(!surface->childAt(empty));
    QLabel* table = d.pos->region(Region::Table);
    const QRectF before = d.pos->regionTwips(Region::Table);

    // A click on the empty surface drops the selection and its handles.
    QTest::mouseClick(window, Qt::LeftButton, {}, at(table->geometry().center()));
    QCOMPARE(d.pos->currentControl(), int(Region::Table));
    QTest::mouseClick(window, Qt::LeftButton, {}, at(empty));
    QCOMPARE(d.pos->currentControl(), -1);
    QCOMPARE(d.pos->dragState(), frmPos::None);
    for (int k = 0; k < 8; ++k)
        QVERIFY(!d.pos->picHandle(k)->isVisible());
    // A drag over the empty surface starts nothing.
    QTest::mousePress(window, Qt::LeftButton, {}, at(empty));
    QTest::mouseMove(window, at(empty - QPoint(40, -40)));
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(empty - QPoint(40, -40)));
    QCOMPARE(d.pos->currentControl(), -1);
    QCOMPARE(d.pos->regionTwips(Region::Table), before);

    // The selection dropped in the middle of a handle drag (design mode left from the keyboard):
    // the drag ends with it, the release changes nothing and the mouse is free again.
    QTest::mouseClick(window, Qt::LeftButton, {}, at(table->geometry().center()));
    const QPoint grip = d.pos->picHandle(4)->geometry().center();
    QTest::mousePress(window, Qt::LeftButton, {}, at(grip));
    QCOMPARE(d.pos->dragState(), frmPos::Sizing);
    QTest::mouseMove(window, at(grip + QPoint(40, 40)));
    d.pos->findChild<QAction*>(QStringLiteral("mnuDesign"))->trigger();
    QCOMPARE(d.pos->dragState(), frmPos::None);
    QCOMPARE(d.pos->currentControl(), -1);
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(grip + QPoint(40, 40)));
    QCOMPARE(d.pos->regionTwips(Region::Table), before);
    QVERIFY(!QWidget::mouseGrabber());
    QVERIFY(!d.pos->picHandle(4)->isVisible());
}

void tst_layoutdesigner::designModeGovernsSelection()
{
    Designing d;
    const QRectF before = d.pos->regionTwips(Region::Table);
    QLabel* table = d.pos->region(Region::Table);
    Designing::drag(table, QPoint(10, 10), QPoint(60, 60));
    QCOMPARE(d.pos->regionTwips(Region::Table), before); // not designing: nothing moves
    QCOMPARE(d.pos->currentControl(), -1);
    QVERIFY(!d.pos->picHandle(0)->isVisible());

    d.pos->Design_Click();
    d.select(table);
    QCOMPARE(d.pos->regionTwips(Region::Table), before);
    QCOMPARE(d.pos->currentControl(), int(Region::Table));
    const std::array<Qt::CursorShape, 8> shapes{Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                Qt::SizeBDiagCursor, Qt::SizeHorCursor};
    for (int k = 0; k < 8; ++k) {
        QVERIFY(d.pos->picHandle(k)->isVisible());
        QCOMPARE(d.pos->picHandle(k)->cursor().shape(), shapes[static_cast<size_t>(k)]);
        QCOMPARE(d.pos->picHandle(k)->size(), QSize(5, 5));
    }

    // A press on the empty surface drops the selection.
    QTest::mouseClick(d.pos->surface(), Qt::LeftButton, {}, QPoint(d.pos->surface()->width() - 3, 3));
    QCOMPARE(d.pos->currentControl(), -1);
    QVERIFY(!d.pos->picHandle(0)->isVisible());

    d.select(table);
    d.pos->Design_Click(); // leaving design mode drops it too
    QCOMPARE(d.pos->currentControl(), -1);
    QVERIFY(!d.pos->picHandle(3)->isVisible());
    QVERIFY(!d.pos->designMode());
}

void tst_layoutdesigner::cursorStaysInTheWindow()
{
    Designing d;
    d.pos->Design_Click();
    QLabel* news = d.pos->region(Region::News);
    const QPoint grip(40, 5);
    QTest::mousePress(news, Qt::LeftButton, {}, grip);
    QTest::mouseMove(news, grip + QPoint(5000, 5000));
    const QRect outer = d.pos->frameGeometry();
    QCOMPARE(d.pos->dragRect().Left, outer.right() - grip.x());
    QCOMPARE(d.pos->dragRect().Top, outer.bottom() - grip.y());
    QTest::mouseMove(news, grip - QPoint(5000, 5000));
    QCOMPARE(d.pos->dragRect().Left, outer.left() - grip.x());
    QTest::mouseRelease(news, Qt::LeftButton, {}, grip - QPoint(5000, 5000));
    QCOMPARE(d.pos->dragState(), frmPos::None);
}

void tst_layoutdesigner::saveAddsThenUpdatesTheRow()
{
    Designing d;
    Database& db = d.st.temp.db();
    d.pos->Save_Click(); // switches design mode on, and stores the defaults
    QVERIFY(d.pos->designMode());
    QCOMPARE(d.rows(), 1);
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblpos"));
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toLongLong(), d.key);
    const QList<double> defaults{240, 360, 1935, 735, 2760, 360, 1935, 735, 240, 1200, 4455, 2655, 240, 3840, 4455, 1935};
    for (int i = 0; i < defaults.size(); ++i)
        QCOMPARE(q.value(2 + i).toDouble(), defaults.at(i));
    QCOMPARE(q.value(22).toDouble(), 240.0); // ttlleft
    QCOMPARE(q.value(27).toDouble(), 5880.0); // newstop
    const QRect outer = d.pos->frameGeometry();
    QCOMPARE(q.value(20).toDouble(), outer.width() * 15.0);
    QCOMPARE(q.value(21).toDouble(), outer.height() * 15.0);
    q.finish(); // an open read would keep this connection on the old snapshot

    Designing::drag(d.video(), QPoint(10, 10), QPoint(40, 10));
    d.pos->move(30, 20);
    d.pos->Save_Click(); // design mode off again; the same row rewritten
    QVERIFY(!d.pos->designMode());
    QCOMPARE(d.rows(), 1);
    QCOMPARE(db.scalar(QStringLiteral("SELECT videoleft FROM tblpos")).toDouble(), 690.0);
    QCOMPARE(db.scalar(QStringLiteral("SELECT meleft FROM tblpos")).toDouble(), 450.0);

    // Opened again for the theme, the designer shows what was saved, in a portrait model.
    frmPos again(d.st.connection, d.st.prompt);
    again.setRef(QString::number(d.key));
    again.getData();
    again.ver();
    QCOMPARE(again.regionTwips(Region::Video), QRectF(690, 3840, 4455, 1935));
    QCOMPARE(again.pos(), QPoint(30, 20));
    // A portrait model: half the screen's height wide, half its width high.
    const QSize screen = again.screen()->geometry().size();
    QCOMPARE(again.frameGeometry().size(), QSize(screen.height() / 2, screen.width() / 2));
    again.Save_Click();
    QCOMPARE(db.scalar(QStringLiteral("SELECT mewidth FROM tblpos")).toDouble(), screen.height() / 2 * 15.0);
    QCOMPARE(db.scalar(QStringLiteral("SELECT meheight FROM tblpos")).toDouble(), screen.width() / 2 * 15.0);
    QCOMPARE(d.rows(), 1);

    // Without a theme key "Save" stores nothing.
    frmPos none(d.st.connection, d.st.prompt);
    none.Save_Click();
    QCOMPARE(d.rows(), 1);
}

TALLYVO_TEST_MAIN(tst_layoutdesigner)
#include "tst_layoutdesigner.moc"
