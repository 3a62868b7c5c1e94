#include "TestSupport.h"

#include "core/Schema.h"
#include "core/modSub.h"
#include "design/HeaderStore.h"
#include "design/LayoutStore.h"
#include "design/ThemeStore.h"

#include <QApplication>
#include <QSqlRecord>
#include <QTest>

using namespace tallyvo;

class tst_themestore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newThemeStoresItsInitialValues();
    void updateRewritesTheSameRowOnly();
    void namesWithApostrophesWorkEverywhere();
    void deletedThemeLeavesItsRowsButANewThemeStartsClean();
    void layoutSaveAddsThenUpdatesOneRow();
    void headerCaptionsForEveryColumn();
    void headerColumnsFollowTheTheme_data();
    void headerColumnsFollowTheTheme();
};

namespace {

QVariantList named(const QString& name)
{
    QVariantList v = ThemeStore::initialValues();
    v[ThemeStore::indexOf(QStringLiteral("themename"))] = name;
    return v;
}

int count(const Database& db, const QString& table, qint64 key)
{
    return db.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE themeauto=?").arg(table), {key}).toInt();
}

LayoutStore::Layout someLayout(double shift)
{
    LayoutStore::Layout l;
    for (size_t i = 0; i < l.regions.size(); ++i)
        l.regions[i] = QRectF(100 * i + shift, 200 * i, 1000 + i, 500 + i);
    l.window = QRectF(15, 30, 9600, 7680);
    return l;
}

} // namespace

void tst_themestore::newThemeStoresItsInitialValues()
{
    test::TempDatabase t;
    const qint64 key = ThemeStore::add(t.db(), named(QStringLiteral("Plain")));
    const std::optional<QVariantList> stored = ThemeStore::load(t.db(), key);
    QVERIFY(stored);
    const auto columns = ThemeStore::columns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const QVariant v = stored->at(static_cast<qsizetype>(i));
        if (columns[i].form == ThemeStore::Form::Colour)
            QCOMPARE(v.toInt(), 4210752);
        else if (i > 0)
            QCOMPARE(v.toString(), columns[i].initial.toString());
    }
    // Read by name, as the display reads them.
    QSqlQuery q = t.db().run(QStringLiteral("SELECT colums, rows, rowheight, type, tformat, newsBG, enableH "
                                            "FROM tbltheme WHERE themeauto=?"),
                             {key});
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("12"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("500"));
    QCOMPARE(q.value(3).toString(), QStringLiteral("Vertical"));
    QCOMPARE(q.value(4).toString(), QStringLiteral("dd-MMM-yyyy HH:mm"));
    QCOMPARE(q.value(5).toInt(), 4210752);
    QCOMPARE(q.value(6).toInt(), 0);
}

void tst_themestore::updateRewritesTheSameRowOnly()
{
    test::TempDatabase t;
    const qint64 first = ThemeStore::add(t.db(), named(QStringLiteral("First")));
    const qint64 second = ThemeStore::add(t.db(), named(QStringLiteral("Second")));
    QVariantList changed = named(QStringLiteral("First, renamed"));
    changed[ThemeStore::indexOf(QStringLiteral("rows"))] = QStringLiteral("9");
    changed[ThemeStore::indexOf(QStringLiteral("newsBG"))] = 0x00FF00;
    QVERIFY(ThemeStore::update(t.db(), first, changed));

    const QList<ThemeStore::ListRow> rows = ThemeStore::list(t.db());
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).key, first);
    QCOMPARE(rows.at(0).name, QStringLiteral("First, renamed"));
    QCOMPARE(rows.at(0).type, QStringLiteral("Vertical"));
    QCOMPARE(ThemeStore::load(t.db(), first)->at(2).toString(), QStringLiteral("9"));
    QCOMPARE(ThemeStore::load(t.db(), first)->last().toInt(), 0x00FF00);
    QCOMPARE(rows.at(1).name, QStringLiteral("Second"));
    QCOMPARE(ThemeStore::load(t.db(), second)->at(2).toString(), QStringLiteral("12"));

    // A theme deleted meanwhile is not brought back by a rewrite.
    ThemeStore::remove(t.db(), second);
    QVERIFY(!ThemeStore::update(t.db(), second, named(QStringLiteral("Ghost"))));
    QVERIFY(!ThemeStore::load(t.db(), second));
    QCOMPARE(ThemeStore::list(t.db()).size(), 1);
}

void tst_themestore::namesWithApostrophesWorkEverywhere()
{
    test::TempDatabase t;
    const QString name = QStringLiteral("St. Mary's 'Main' Hall");
    const qint64 key = ThemeStore::add(t.db(), named(name));
    QCOMPARE(ThemeStore::list(t.db()).at(0).name, name);
    QCOMPARE(ThemeStore::load(t.db(), key)->at(0).toString(), name);
    QCOMPARE(modSub::getThemeKey(t.db(), name), int(key));
    HeaderStore::save(t.db(), key, {QStringLiteral("Patient's No."), QStringLiteral("Counter")});
    QCOMPARE(HeaderStore::load(t.db(), key)->at(0), QStringLiteral("Patient's No."));
}

void tst_themestore::deletedThemeLeavesItsRowsButANewThemeStartsClean()
{
    test::TempDatabase t;
    const qint64 old = ThemeStore::add(t.db(), named(QStringLiteral("Lobby")));
    LayoutStore::save(t.db(), old, someLayout(0));
    HeaderStore::save(t.db(), old, {QStringLiteral("Old 1"), QStringLiteral("Old 2")});
    ThemeStore::remove(t.db(), old);
    QCOMPARE(count(t.db(), QStringLiteral("tbltheme"), old), 0);
    QCOMPARE(count(t.db(), QStringLiteral("tblpos"), old), 1);
    QCOMPARE(count(t.db(), QStringLiteral("tblheader"), old), 1);

    // Rows left under the key the next theme will get, as a database whose keys were reset has.
    t.db().run(QStringLiteral("INSERT INTO tblpos (themeauto, logoleft) VALUES (?, 5)"), {old + 1});
    t.db().run(QStringLiteral("INSERT INTO tblheader (themeauto, caption1) VALUES (?, 'Stale')"), {old + 1});

    const qint64 reused = ThemeStore::add(t.db(), named(QStringLiteral("Lobby")));
    QVERIFY(reused != old);
    QCOMPARE(modSub::getThemeKey(t.db(), QStringLiteral("Lobby")), int(reused));
    QVERIFY(!LayoutStore::load(t.db(), reused));
    QVERIFY(!HeaderStore::load(t.db(), reused));
    // The deleted theme's own rows are still there.
    QCOMPARE(count(t.db(), QStringLiteral("tblpos"), old), 1);
    QCOMPARE(HeaderStore::load(t.db(), old)->at(0), QStringLiteral("Old 1"));
}

void tst_themestore::layoutSaveAddsThenUpdatesOneRow()
{
    test::TempDatabase t;
    const qint64 key = ThemeStore::add(t.db(), named(QStringLiteral("Hall")));
    QVERIFY(!LayoutStore::load(t.db(), key));
    QCOMPARE(LayoutStore::save(t.db(), key, someLayout(0)), LayoutStore::Saved::Added);
    QCOMPARE(count(t.db(), QStringLiteral("tblpos"), key), 1);

    LayoutStore::Layout moved = someLayout(7);
    moved.regions[static_cast<size_t>(LayoutStore::Region::Video)] = QRectF(1234.56789, 10, 20, 30);
    QCOMPARE(LayoutStore::save(t.db(), key, moved), LayoutStore::Saved::Updated);
    QCOMPARE(count(t.db(), QStringLiteral("tblpos"), key), 1);

    const std::optional<LayoutStore::Stored> s = LayoutStore::load(t.db(), key);
    QVERIFY(s);
    // Columns in their stored order: the display reads some by position, some by name.
    QSqlQuery q = t.db().run(QStringLiteral("SELECT * FROM tblpos WHERE themeauto=?"), {key});
    QVERIFY(q.next());
    QCOMPARE(q.value(2).toDouble(), 107.0); // logoleft
    QCOMPARE(q.value(q.record().indexOf(QStringLiteral("ttltop"))).toDouble(), 0.0);
    QCOMPARE(q.value(q.record().indexOf(QStringLiteral("newstop"))).toDouble(), 1000.0);
    QCOMPARE(q.value(20).toDouble(), 9600.0);
    QCOMPARE(q.value(21).toDouble(), 7680.0);
    // Single precision, as the display has always read them.
    QCOMPARE(float(*s->regions[static_cast<size_t>(LayoutStore::Region::Video)][0]), 1234.56789f);
    QCOMPARE(*s->mewidth, 9600.0);
    QCOMPARE(*s->meleft, 15.0);
}

void tst_themestore::headerCaptionsForEveryColumn()
{
    test::TempDatabase t;
    QCOMPARE(HeaderStore::capacity(t.db()), Schema::headerCaptions);
    const qint64 key = ThemeStore::add(t.db(), named(QStringLiteral("Wide")));
    QStringList many;
    for (int i = 1; i <= 8; ++i)
        many << QStringLiteral("Caption %1").arg(i);
    HeaderStore::save(t.db(), key, many);
    QCOMPARE(HeaderStore::load(t.db(), key)->mid(0, 8), many);
    // Position i holds column i.
    QSqlQuery q = t.db().run(QStringLiteral("SELECT * FROM tblheader WHERE themeauto=?"), {key});
    QVERIFY(q.next());
    QCOMPARE(q.value(8).toString(), QStringLiteral("Caption 8"));

    // A second save rewrites the row; captions beyond those given stay.
    HeaderStore::save(t.db(), key, {QStringLiteral("Token"), QStringLiteral("Desk")});
    QCOMPARE(count(t.db(), QStringLiteral("tblheader"), key), 1);
    const QStringList after = *HeaderStore::load(t.db(), key);
    QCOMPARE(after.mid(0, 3), (QStringList{QStringLiteral("Token"), QStringLiteral("Desk"), QStringLiteral("Caption 3")}));

    // Rows a site entered by hand all follow, so the display shows the same whichever it reads.
    t.db().run(QStringLiteral("INSERT INTO tblheader (themeauto, caption1) VALUES (?, 'Manual')"), {key});
    HeaderStore::save(t.db(), key, {QStringLiteral("One")});
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tblheader WHERE themeauto=? AND caption1='One'"),
                           {key}).toInt(),
             2);
}

void tst_themestore::headerColumnsFollowTheTheme_data()
{
    QTest::addColumn<QVariant>("colums");
    QTest::addColumn<int>("boxes");
    QTest::newRow("two") << QVariant(QStringLiteral("2")) << 2;
    QTest::newRow("eight") << QVariant(QStringLiteral("8")) << 8;
    QTest::newRow("not a number") << QVariant(QStringLiteral("x")) << 2;
    QTest::newRow("missing") << QVariant() << 2;
    QTest::newRow("zero still has one") << QVariant(QStringLiteral("0")) << 1;
    QTest::newRow("more than the display shows") << QVariant(QStringLiteral("500")) << Schema::headerCaptions;
}

void tst_themestore::headerColumnsFollowTheTheme()
{
    QFETCH(QVariant, colums);
    QFETCH(int, boxes);
    QCOMPARE(HeaderStore::columnsFor(colums, Schema::headerCaptions), boxes);
}

TALLYVO_TEST_MAIN(tst_themestore)
#include "tst_themestore.moc"
