#include "TestSupport.h"

#include "design/NewsStore.h"

#include <QSqlQuery>
#include <QTest>

using namespace tallyvo;

namespace {

qint64 add(const NewsStore& store, const QString& text, bool active = true, const QString& direction = QStringLiteral("Left"))
{
    NewsRecord r;
    r.message = text;
    r.active = active;
    r.direction = direction;
    return store.insert(r);
}

QStringList texts(const QList<NewsListRow>& rows)
{
    QStringList out;
    for (const NewsListRow& r : rows)
        out << r.message + (r.active ? QStringLiteral(" +") : QStringLiteral(" -"));
    return out;
}

} // namespace

class tst_newsstore : public QObject {
    Q_OBJECT
private slots:
    void strip_data();
    void strip();
    void listAndSearch_data();
    void listAndSearch();
    void storedRowAndKeysBeyond16Bits();
};

void tst_newsstore::strip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    QTest::newRow("between letters") << QStringLiteral("a<b>c/d") << QStringLiteral("abcd");
    QTest::newRow("markup") << QStringLiteral("<b>Open</b> 9/5") << QStringLiteral("bOpenb 95");
    QTest::newRow("only markup") << QStringLiteral("</>") << QString();
    QTest::newRow("others stay") << QStringLiteral("O'Brien & \"co\" \\ 50%") << QStringLiteral("O'Brien & \"co\" \\ 50%");
}

void tst_newsstore::strip()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    QCOMPARE(NewsStore::strip(text), stored);
}

void tst_newsstore::listAndSearch_data()
{
    QTest::addColumn<bool>("activeOnly");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("expected");
    const QString today = QStringLiteral("Today closed +");
    const QString days = QStringLiteral("Open 6 days -");
    const QString quote = QStringLiteral("Dr. O'Brien's clinic +");
    const QString percent = QStringLiteral("50% off_today +");
    const QString plain = QStringLiteral("50 x off today -");
    QTest::newRow("all") << false << QString() << QStringList{today, days, quote, percent, plain};
    QTest::newRow("active only") << true << QString() << QStringList{today, quote, percent};
    QTest::newRow("anywhere, any case") << false << QStringLiteral("day") << QStringList{today, days, percent, plain};
    QTest::newRow("active and found") << true << QStringLiteral("DAY") << QStringList{today, percent};
    QTest::newRow("quote") << false << QStringLiteral("O'Brien") << QStringList{quote};
    QTest::newRow("quote that would end the text") << false << QStringLiteral("' OR '1'='1") << QStringList{};
    QTest::newRow("percent is a percent") << false << QStringLiteral("50%") << QStringList{percent};
    QTest::newRow("underscore is an underscore") << false << QStringLiteral("f_t") << QStringList{percent};
    QTest::newRow("escape character") << false << QStringLiteral("!") << QStringList{};
}

void tst_newsstore::listAndSearch()
{
    QFETCH(bool, activeOnly);
    QFETCH(QString, search);
    QFETCH(QStringList, expected);
    test::TempDatabase temp;
    const NewsStore store(temp.db());
    add(store, QStringLiteral("Today closed"));
    add(store, QStringLiteral("Open 6 days"), false);
    add(store, QStringLiteral("Dr. O'Brien's clinic"), true, QStringLiteral("Right"));
    add(store, QStringLiteral("50% off_today"));
    add(store, QStringLiteral("50 x off today"), false);
    const QList<NewsListRow> rows = store.list(activeOnly, search);
    QCOMPARE(texts(rows), expected);
    for (int i = 1; i < rows.size(); ++i)
        QVERIFY(rows.at(i - 1).key < rows.at(i).key);
}

void tst_newsstore::storedRowAndKeysBeyond16Bits()
{
    test::TempDatabase temp;
    Database& db = temp.db();
    const NewsStore store(db);

    // A new message with the defaults, by position as the display reads it.
    NewsRecord fresh;
    fresh.message = QStringLiteral("Welcome");
    fresh.rtf = QStringLiteral("{\\rtf1 Welcome}");
    const qint64 key = store.insert(fresh);
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblscroll WHERE scrollAuto=?"), {key});
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toString(), QStringLiteral("Welcome"));
    QCOMPARE(q.value(2).toString(), fresh.rtf);
    QCOMPARE(q.value(3).toString(), fresh.rtf);
    QCOMPARE(q.value(4).toString(), QStringLiteral("1"));
    QCOMPARE(q.value(5).toString(), QStringLiteral("Arial"));
    QCOMPARE(q.value(6).toString(), QStringLiteral("20"));
    QCOMPARE(q.value(7).toInt(), 0);
    QCOMPARE(q.value(8).toInt(), 0);
    QCOMPARE(q.value(9).toInt(), 0);
    QCOMPARE(q.value(10).toString(), QStringLiteral("Left"));

    // Keys past 32767 edit and delete the row they name.
    db.run(QStringLiteral("INSERT INTO tblscroll (scrollAuto, message, active, direction) VALUES (40000, 'far', '1', "
                          "'Left')"));
    // Where a 16-bit conversion of 40000 would land.
    db.run(QStringLiteral("INSERT INTO tblscroll (scrollAuto, message, active, direction) VALUES (-25536, "
                          "'wrapped', '1', 'Left')"));
    std::optional<NewsRecord> far = store.find(40000);
    QVERIFY(far);
    QCOMPARE(far->message, QStringLiteral("far"));
    far->message = QStringLiteral("far, edited");
    far->direction = QStringLiteral("Right");
    far->active = false;
    QVERIFY(store.update(*far));
    QCOMPARE(store.find(40000)->message, QStringLiteral("far, edited"));
    QCOMPARE(store.find(40000)->direction, QStringLiteral("Right"));
    QCOMPARE(store.find(40000)->active, false);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblscroll")).toInt(), 3);
    QVERIFY(store.remove(40000));
    QVERIFY(!store.find(40000));
    // A row gone meanwhile is reported, not silently "updated".
    QVERIFY(!store.update(*far));
    QVERIFY(!store.remove(40000));
    QVERIFY(store.find(key));
    QCOMPARE(store.find(-25536)->message, QStringLiteral("wrapped"));
}

TALLYVO_TEST_MAIN(tst_newsstore)
#include "tst_newsstore.moc"
