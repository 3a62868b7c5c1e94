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

using namespace tallyvo;
using Region = LayoutStore::Region;

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
    void designModeGovernsSelection();
    void cursorStaysInTheWindow();
    void saveAddsThenUpdatesTheRow();
};

void tst_layoutdesigner::dragsFollowTheMouse_data()
{
    // The video region starts at 240, 3840, 4455 x 1935 twips: pixels 16, 256 to 313, 385.
    QTest::addColumn<int>("handle"); // -1 drags the region itself
    QTest::addColumn<QPoint>("to");  // where the cursor ends, in surface pixels
    QTest::addColumn<QRectF>("twips");
    QTest::newRow("move") << -1 << QPoint(16 + 50 + 30, 256 + 50 - 40) << QRectF(690, 3240, 4455, 1935);
    QTest::newRow("right edge") << 3 << QPoint(333, 300) << QRectF(240, 3840, 4755, 1935);
    QTest::newRow("top-left corner") << 0 << QPoint(6, 246) << QRectF(90, 3690, 4605, 2085);
    QTest::newRow("left edge past the right one") << 7 << QPoint(338, 300) << QRectF(4695, 3840, 375, 1935);
    QTest::newRow("bottom edge past the top one") << 5 << QPoint(100, 226) << QRectF(240, 3390, 4455, 450);
}

void tst_layoutdesigner::dragsFollowTheMouse()
{
    QFETCH(int, handle);
    QFETCH(QPoint, to);
    QFETCH(QRectF, twips);
    Designing d;
    QCOMPARE(d.pos->twipsPerPixel(), 15.0);
    QCOMPARE(d.pos->regionTwips(Region::Video), QRectF(240, 3840, 4455, 1935));
    QCOMPARE(d.video()->geometry(), QRect(16, 256, 297, 129));
    d.pos->Design_Click();

    QWidget* surface = d.pos->surface();
    if (handle < 0) {
        QTest::mousePress(d.video(), Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(d.pos->dragState(), frmPos::Moving);
        QTest::mouseMove(d.video(), d.video()->mapFrom(surface, to));
        // While dragging only the outline moves.
        QCOMPARE(d.video()->geometry().topLeft(), QPoint(16, 256));
        QCOMPARE(d.pos->dragRect().Left, surface->mapToGlobal(to).x() - 50);
        QTest::mouseRelease(d.video(), Qt::LeftButton, {}, d.video()->mapFrom(surface, to));
    } else {
        d.select(d.video());
        QWidget* h = d.pos->picHandle(handle);
        QVERIFY(h->isVisible());
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(d.pos->dragState(), frmPos::Sizing);
        QVERIFY(!h->isVisible());
        QTest::mouseMove(h, h->mapFrom(surface, to));
        QTest::mouseRelease(h, Qt::LeftButton, {}, h->mapFrom(surface, to));
    }
    QCOMPARE(d.pos->dragState(), frmPos::None);
    QCOMPARE(d.pos->regionTwips(Region::Video), twips);
    QCOMPARE(d.video()->geometry(), QRect(int(twips.x() / 15), int(twips.y() / 15), int(twips.width() / 15),
                                          int(twips.height() / 15)));
    // The handles stand around the region where it now is.
    for (int k = 0; k < 8; ++k)
        QVERIFY(d.pos->picHandle(k)->isVisible());
    const QRect at = d.video()->geometry();
    QVERIFY(qAbs(d.pos->picHandle(0)->geometry().center().x() - at.left()) <= 2);
    QVERIFY(qAbs(d.pos->picHandle(4)->geometry().center().y() - at.bottom()) <= 2);
    QVERIFY(qAbs(d.pos->picHandle(1)->geometry().center().x() - at.center().x()) <= 2);
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
