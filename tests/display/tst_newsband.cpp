#include "TestSupport.h"

#include "display/ClockFormat.h"
#include "display/NewsBand.h"

#include <QApplication>
#include <QTest>

using namespace tallyvo;

namespace {

// Messages by direction, as tblscroll would give them; every letter is 10 units wide.
struct FakeNews {
    QHash<QString, QStringList> texts;
    QStringList reads;

    NewsBand band()
    {
        NewsBand b(
            [this](const QString& direction) {
                reads << direction;
                QList<NewsMessage> out;
                for (const QString& t : texts.value(direction))
                    out << NewsMessage{t, QStringLiteral("Arial"), 20.0, 0xFFFFFF, false, false};
                return out;
            },
            [](const NewsMessage& m) { return 10.0 * double(m.text.size()); });
        b.setWindowWidth(1000);
        b.setGap(5);
        return b;
    }
};

QStringList shown(const NewsBand& band)
{
    QStringList out;
    for (qsizetype i = 1; i < band.labels().size(); ++i)
        out << band.labels().at(i).message.text;
    return out;
}

// Steps until the state changes; the number of steps taken, or -1 after limit steps.
int stepsUntilSwitch(NewsBand& band, double distance, int limit = 100000)
{
    const NewsBand::State from = band.state();
    for (int n = 1; n <= limit; ++n) {
        band.step(distance);
        if (band.state() != from)
            return n;
    }
    return -1;
}

} // namespace

class tst_newsband : public QObject {
    Q_OBJECT

private slots:
    // The left chain starts at the right edge with the gap between messages; the right chain
    // ends at the left edge, each message one gap and its own width further left.
    void chainsAndGaps()
    {
        FakeNews news;
        news.texts[QStringLiteral("Left")] = {QStringLiteral("abc"), QStringLiteral("de")};
        news.texts[QStringLiteral("Right")] = {QStringLiteral("xyz"), QStringLiteral("w")};
        NewsBand band = news.band();
        band.start();
        QCOMPARE(band.state(), NewsBand::State::MovingLeft);
        QCOMPARE(shown(band), (QStringList{QStringLiteral("abc"), QStringLiteral("de")}));
        QCOMPARE(band.labels().at(0).left, 1000.0);
        QCOMPARE(band.labels().at(1).left, 1005.0);
        QCOMPARE(band.labels().at(2).left, 1040.0);

        band.step(30);
        QCOMPARE(band.labels().at(1).left, 975.0);
        QCOMPARE(band.labels().at(2).left, 1010.0);

        // The last left message (right edge at 1060 at the start) must leave: 1060 / 30 steps.
        QCOMPARE(stepsUntilSwitch(band, 30) + 1, 37);
        QCOMPARE(band.state(), NewsBand::State::MovingRight);
        QCOMPARE(shown(band), (QStringList{QStringLiteral("xyz"), QStringLiteral("w")}));
        QCOMPARE(band.labels().at(0).left, 0.0);
        QCOMPARE(band.labels().at(1).left, -35.0);
        QCOMPARE(band.labels().at(2).left, -50.0);

        // The last right message leaves when its left edge reaches the window width.
        const int right = stepsUntilSwitch(band, 50);
        QCOMPARE(right, 22); // -50 + 21 * 50 = 1000, then the switch step
        QCOMPARE(band.state(), NewsBand::State::MovingLeft);
        QCOMPARE(news.reads, (QStringList{QStringLiteral("Left"), QStringLiteral("Right"), QStringLiteral("Left")}));
    }

    // Only right-moving messages: the empty anchor crosses leftwards (width / speed steps)
    // before every right-moving run.
    void onlyRightMessages()
    {
        FakeNews news;
        news.texts[QStringLiteral("Right")] = {QStringLiteral("hello")};
        NewsBand band = news.band();
        band.start();
        QVERIFY(!band.hasMessages());
        QCOMPARE(stepsUntilSwitch(band, 25), 41); // 1000 / 25 moves, then the switch
        QCOMPARE(shown(band), QStringList{QStringLiteral("hello")});
        stepsUntilSwitch(band, 25);
        QCOMPARE(band.state(), NewsBand::State::MovingLeft);
        QVERIFY(!band.hasMessages());
        QCOMPARE(stepsUntilSwitch(band, 25), 41);
        QCOMPARE(band.state(), NewsBand::State::MovingRight);
    }

    // Only left-moving messages: after the last has gone, they start again from the right edge
    // at once (the right run is empty and ends on its first step).
    void onlyLeftMessages()
    {
        FakeNews news;
        news.texts[QStringLiteral("Left")] = {QStringLiteral("abcd")};
        NewsBand band = news.band();
        band.start();
        stepsUntilSwitch(band, 100);
        QCOMPARE(band.state(), NewsBand::State::MovingRight);
        band.step(100);
        QCOMPARE(band.state(), NewsBand::State::MovingLeft);
        QCOMPARE(shown(band), QStringList{QStringLiteral("abcd")});
        QCOMPARE(band.labels().at(1).left, 1005.0);
    }

    // Nothing active in either direction: the band never spins, each pass takes its time.
    void noMessages()
    {
        FakeNews news;
        NewsBand band = news.band();
        band.start();
        for (int i = 0; i < 500; ++i)
            band.step(30);
        QVERIFY(news.reads.size() < 40);
    }

    // A message added while the band runs shows at the next switch, not before.
    void messageAddedWhileRunning()
    {
        FakeNews news;
        news.texts[QStringLiteral("Left")] = {QStringLiteral("one")};
        NewsBand band = news.band();
        band.start();
        band.step(30);
        news.texts[QStringLiteral("Left")] << QStringLiteral("two");
        news.texts[QStringLiteral("Right")] << QStringLiteral("new");
        band.step(30);
        QCOMPARE(shown(band), QStringList{QStringLiteral("one")});
        stepsUntilSwitch(band, 30);
        QCOMPARE(shown(band), QStringList{QStringLiteral("new")});
        stepsUntilSwitch(band, 30);
        QCOMPARE(shown(band), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    }

    void stopEmptiesTheBand()
    {
        FakeNews news;
        news.texts[QStringLiteral("Left")] = {QStringLiteral("one")};
        NewsBand band = news.band();
        band.start();
        band.stop();
        QCOMPARE(band.state(), NewsBand::State::Stopped);
        QVERIFY(!band.hasMessages());
        const double anchor = band.labels().at(0).left;
        band.step(30);
        QCOMPARE(band.labels().at(0).left, anchor);
    }

    // The title runs out to the left, then one step puts it at the right edge without drawing.
    void titleScroll()
    {
        TitleScroll title;
        QCOMPARE(title.x(), 0.0);
        QVERIFY(title.step(30, 100, 500));
        QCOMPARE(title.x(), -30.0);
        QVERIFY(title.step(30, 100, 500));
        QVERIFY(title.step(30, 100, 500));
        QVERIFY(title.step(30, 100, 500)); // from -90 to -120
        QVERIFY(!title.step(30, 100, 500));
        QCOMPARE(title.x(), 500.0);
        QVERIFY(title.step(30, 100, 500));
        QCOMPARE(title.x(), 470.0);
    }

    void clockFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        // 2026-03-14 09:05:07
        QTest::newRow("editor default") << QStringLiteral("dd-MMM-yyyy HH:mm") << QStringLiteral("14-Mar-2026 09:05");
        QTest::newRow("lower case, minutes after hour") << QStringLiteral("dd/mm/yy hh:mm:ss")
                                                       << QStringLiteral("14/03/26 09:05:07");
        QTest::newRow("n for minutes") << QStringLiteral("hh:nn") << QStringLiteral("09:05");
        QTest::newRow("twelve hour") << QStringLiteral("h:nn AM/PM") << QStringLiteral("9:05 AM");
        QTest::newRow("long names") << QStringLiteral("dddd, mmmm d") << QStringLiteral("Saturday, March 14");
        QTest::newRow("minutes before seconds") << QStringLiteral("m:ss") << QStringLiteral("5:07");
        QTest::newRow("quoted text") << QStringLiteral("\"Time\" hh:nn") << QStringLiteral("Time 09:05");
        QTest::newRow("letters that are no code") << QStringLiteral("hh:nn 'x") << QStringLiteral("09:05 'x");
        QTest::newRow("empty") << QString() << QString();
    }

    void clockFormats()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        const QDateTime at(QDate(2026, 3, 14), QTime(9, 5, 7));
        QCOMPARE(QLocale::c().toString(at, qtClockFormat(format)), expected);
    }

    // The hands are wrapped in a turn about the face's centre; the rest stays as it was.
    void clockHands()
    {
        const QByteArray face = QByteArrayLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 200 100\">"
            "<circle id=\"face\" cx=\"100\" cy=\"50\" r=\"40\"/>"
            "<g id=\"hour\"><rect x=\"99\" y=\"20\" width=\"2\" height=\"30\"/></g>"
            "<rect id=\"minute\" x=\"99\" y=\"15\" width=\"2\" height=\"35\"/>"
            "<g id=\"second\"><g><rect x=\"99\" y=\"12\" width=\"1\" height=\"40\"/></g></g>"
            "</svg>");
        const QString turned = QString::fromUtf8(clockFaceAt(face, QTime(3, 30, 15)));
        QVERIFY2(turned.contains(QStringLiteral("<g transform=\"rotate(105.125 100 50)\"><g id=\"hour\">")),
                 qPrintable(turned));
        QVERIFY(turned.contains(QStringLiteral("<g transform=\"rotate(181.500 100 50)\"><rect id=\"minute\"")));
        QVERIFY(turned.contains(QStringLiteral("<g transform=\"rotate(90.000 100 50)\"><g id=\"second\">")));
        QVERIFY(turned.contains(QStringLiteral("</g></g></g></svg>")));
        QVERIFY(turned.contains(QStringLiteral("<circle id=\"face\"")));
        QVERIFY(clockFaceAt(QByteArrayLiteral("<svg><g>"), QTime(1, 0)).isEmpty());
    }
};

TALLYVO_TEST_MAIN(tst_newsband)
#include "tst_newsband.moc"
