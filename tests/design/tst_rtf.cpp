#include "TestSupport.h"

#include "design/Rtf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

using namespace tallyvo;

namespace {

RtfRun run(const QString& text, RtfCharFormat f = {})
{
    return RtfRun{text, f};
}

RtfParagraph para(QList<RtfRun> runs, RtfAlign align = RtfAlign::Left)
{
    RtfParagraph p;
    p.runs = std::move(runs);
    p.align = align;
    return p;
}

RtfCharFormat arial(double size = 20)
{
    RtfCharFormat f;
    f.font = QStringLiteral("Arial");
    f.size = size;
    return f;
}

// The formats of the text of a read document, one run each.
QString describe(const RtfDocument& d)
{
    QStringList out;
    for (const RtfParagraph& p : d.paragraphs) {
        QString line = QStringLiteral("[a%1 b%2 li%3 fi%4 ri%5]")
                           .arg(int(p.align))
                           .arg(p.bullet)
                           .arg(p.leftIndent)
                           .arg(p.firstIndent)
                           .arg(p.rightIndent);
        for (const RtfRun& r : p.runs) {
            const RtfCharFormat& f = r.format;
            line += QStringLiteral("{%1 %2%3%4%5%6 c%7 h%8|%9}")
                        .arg(f.font)
                        .arg(f.size)
                        .arg(f.bold ? QStringLiteral("b") : QString())
                        .arg(f.italic ? QStringLiteral("i") : QString())
                        .arg(f.underline ? QStringLiteral("u") : QString())
                        .arg(f.strike ? QStringLiteral("s") : QString())
                        .arg(f.color ? QString::number(*f.color, 16) : QStringLiteral("-"))
                        .arg(f.background ? QString::number(*f.background, 16) : QStringLiteral("-"))
                        .arg(r.text);
        }
        out << line;
    }
    return out.join(QLatin1Char('\n'));
}

} // namespace

class tst_rtf : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void readsOtherWriters_data();
    void readsOtherWriters();
    void damagedInputEndsInBoundedTime_data();
    void damagedInputEndsInBoundedTime();
    void everyTruncationReadsAPrefix();
    void fuzzCorpusReads();
};

void tst_rtf::roundTrip_data()
{
    QTest::addColumn<RtfDocument>("doc");
    auto with = [](auto change) {
        RtfCharFormat f = arial();
        change(f);
        return f;
    };
    QTest::newRow("empty") << RtfDocument{};
    QTest::newRow("plain") << RtfDocument{{para({run(QStringLiteral("Welcome"), arial())})}};
    QTest::newRow("fonts and sizes") << RtfDocument{{para(
        {run(QStringLiteral("Arial 20 "), arial()),
         run(QStringLiteral("Courier 10.5 "), with([](RtfCharFormat& f) { f.font = QStringLiteral("Courier New"); f.size = 10.5; })),
         run(QStringLiteral("back to Arial 8"), arial(8))})}};
    QTest::newRow("bold italic underline strike") << RtfDocument{{para(
        {run(QStringLiteral("b"), with([](RtfCharFormat& f) { f.bold = true; })),
         run(QStringLiteral("i"), with([](RtfCharFormat& f) { f.italic = true; })),
         run(QStringLiteral("u"), with([](RtfCharFormat& f) { f.underline = true; })),
         run(QStringLiteral("s"), with([](RtfCharFormat& f) { f.strike = true; })),
         run(QStringLiteral("all"), with([](RtfCharFormat& f) { f.bold = f.italic = f.underline = f.strike = true; }))})}};
    QTest::newRow("colours") << RtfDocument{{para(
        {run(QStringLiteral("red "), with([](RtfCharFormat& f) { f.color = 0xFF0000; })),
         run(QStringLiteral("black on yellow "), with([](RtfCharFormat& f) { f.color = 0x000000; f.background = 0xFFFF00; })),
         run(QStringLiteral("red again"), with([](RtfCharFormat& f) { f.color = 0xFF0000; })),
         run(QStringLiteral(" default"), arial())})}};
    RtfParagraph bullet = para({run(QStringLiteral("first point"), arial())});
    bullet.bullet = true;
    bullet.leftIndent = 360;
    bullet.firstIndent = -360;
    RtfParagraph indented = para({run(QStringLiteral("indented"), arial())}, RtfAlign::Justify);
    indented.leftIndent = 113 + 1440;
    indented.rightIndent = 200;
    QTest::newRow("alignment, bullets, indents") << RtfDocument{{
        para({run(QStringLiteral("left"), arial())}), para({run(QStringLiteral("centre"), arial())}, RtfAlign::Center),
        para({run(QStringLiteral("right"), arial())}, RtfAlign::Right), bullet, bullet, indented}};
    QTest::newRow("empty paragraphs") << RtfDocument{{para({}), para({run(QStringLiteral("a"), arial())}), para({}), para({})}};
    QTest::newRow("unicode") << RtfDocument{{para(
        {run(QStringLiteral("caf\u00e9 \u20ac5 \u00fcber \u0394\u03b9\u03ac \u4eca\u65e5 \u05e9\u05dc\u05d5\u05dd "), arial()),
         run(QString::fromUtf8("\xf0\x9f\x98\x80 emoji"), with([](RtfCharFormat& f) { f.font = QStringLiteral("Noto \u00c9moji"); }))})}};
    QTest::newRow("special characters") << RtfDocument{{para(
        {run(QStringLiteral("a\\b {c} \td\u2028e ;"), arial()),
         run(QStringLiteral("  two leading blanks"), with([](RtfCharFormat& f) { f.bold = true; }))})}};
    QTest::newRow("no font or size") << RtfDocument{{para({run(QStringLiteral("bare"))})}};
}

void tst_rtf::roundTrip()
{
    QFETCH(RtfDocument, doc);
    const QString rtf = Rtf::write(doc);
    for (const QChar c : rtf)
        QVERIFY2(c.unicode() < 0x80, qPrintable(rtf));
    const RtfDocument back = Rtf::read(rtf);
    QCOMPARE(describe(back), describe(doc));
    QVERIFY(back == doc);
    // Also through the bytes of a file.
    QVERIFY(Rtf::read(rtf.toLatin1()) == doc);
}

void tst_rtf::readsOtherWriters_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");

    QTest::newRow("wordpad")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
                      "{\\f1\\fswiss\\fprq2\\fcharset0 Arial;}}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
                      "\\pard\\sa200\\sl276\\slmult1\\qc\\b\\f1\\fs40 Caf\\'e9\\b0\\par\r\n\\pard\\f0\\fs22 next\\par\r\n}\r\n")
        << QStringLiteral("[a1 b0 li0 fi0 ri0]{Arial 20b c- h-|Caf\u00e9}\n[a0 b0 li0 fi0 ri0]{Calibri 11 c- h-|next}");
    QTest::newRow("cp1252 high bytes")
        << QByteArray("{\\rtf1\\ansi{\\fonttbl\\f0 Arial;}\\f0 \\'80\\'93x\\'94 raw \xe9}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{Arial 0 c- h-|\u20ac\u201cx\u201d raw \u00e9}");
    QTest::newRow("cyrillic code page")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 Times;}}\\f0 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{Times 0 c- h-|\u041f\u0440\u0438\u0432\u0435\u0442}");
    QTest::newRow("unicode with fallbacks")
        << QByteArray("{\\rtf1\\uc1\\u8364?\\uc2\\u20320\\'c4\\'e3\\uc0\\u-3913 x\\u946\\'3f}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0 c- h-|\u20ac\u4f60\uf0b7x\u03b2?}");
    QTest::newRow("upr and ud")
        << QByteArray("{\\rtf1{\\upr{fallback}{\\*\\ud{\\u1488?}}}!}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0 c- h-|\u05d0!}");
    QTest::newRow("fields, lists and skipped destinations")
        << QByteArray("{\\rtf1{\\*\\unknowndest junk}{\\info{\\title T}}{\\stylesheet{\\s0 Normal;}}"
                      "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}"
                      "\\par\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1{\\pntxtb\\'B7}}\\fi-360\\li720 item\\par"
                      "\\pard\\ls1 word list{\\listtext x}\\par"
                      "{\\pict\\pngblip 89504e47}\\bin3 {}x}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0 c- h-|link}\n[a0 b1 li720 fi-360 ri0]{ 0 c- h-|item}\n"
                          "[a0 b1 li0 fi0 ri0]{ 0 c- h-|word list}");
    QTest::newRow("colour table, plain, underline kinds")
        << QByteArray("{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
                      "\\cf1\\uldb r\\ulnone\\cf2\\highlight1 b\\plain p\\cf9 q\\ul0 \\strike1 s\\strike0}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0u cff0000 h-|r}{ 0 cff hff0000|b}{ 0 c- h-|pq}{ 0s c- h-|s}");
    QTest::newRow("escaped characters and symbols")
        << QByteArray("{\\rtf1 a\\\\b\\{c\\}\\~d\\-e\\_f\\tab g\\line h\\emdash\\bullet\\lquote\\rdblquote\n"
                      "\\\nnext}")
        << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0 c- h-|a\\b{c}\u00a0de\u2011f\tg\u2028h\u2014\u2022\u2018\u201d}\n"
                          "[a0 b0 li0 fi0 ri0]{ 0 c- h-|next}");
    QTest::newRow("text after the document is not read")
        << QByteArray("{\\rtf1 in}out{\\b more}") << QStringLiteral("[a0 b0 li0 fi0 ri0]{ 0 c- h-|in}");
}

void tst_rtf::readsOtherWriters()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    QCOMPARE(describe(Rtf::read(rtf)), expected);
}

void tst_rtf::damagedInputEndsInBoundedTime_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    const QByteArray deep = QByteArray(200000, '{');
    QTest::newRow("deep nesting, never closed") << QByteArray("{\\rtf1 ") + deep + "deep" << QStringLiteral("deep");
    QTest::newRow("deep nesting, closed") << QByteArray("{\\rtf1 a") + deep + "b" + QByteArray(200000, '}') + "c}"
                                          << QStringLiteral("abc");
    QTest::newRow("too many closing braces") << QByteArray("{\\rtf1 a}}}}}b") << QStringLiteral("a");
    QTest::newRow("huge numbers") << QByteArray("{\\rtf1\\fs99999999999999999999\\li-99999999999999\\cf4294967297"
                                                "\\u99999999999 x\\uc99999999 y\\bin99999999999 z")
                                  << QStringLiteral("y");
    QTest::newRow("endless control word") << QByteArray("{\\rtf1\\") + QByteArray(100000, 'a') + " t}" << QStringLiteral("t");
    QTest::newRow("many paragraphs") << QByteArray("{\\rtf1 ") + QByteArray(50000, 'x').replace("x", "\\par ") + "end}"
                                     << QString(50000, QLatin1Char('\n')) + QStringLiteral("end");
    QTest::newRow("lone backslash and hex") << QByteArray("{\\rtf1 a\\'4") << QStringLiteral("a");
    QTest::newRow("nothing") << QByteArray() << QString();
    QTest::newRow("not rtf at all") << QByteArray("just text") << QStringLiteral("just text");
}

void tst_rtf::damagedInputEndsInBoundedTime()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QElapsedTimer timer;
    timer.start();
    const RtfDocument d = Rtf::read(rtf);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(d.plainText(), text);
    // What was read can be written and read again.
    QCOMPARE(Rtf::read(Rtf::write(d)).plainText(), text);
}

void tst_rtf::everyTruncationReadsAPrefix()
{
    RtfCharFormat bold = arial();
    bold.bold = true;
    bold.color = 0x123456;
    RtfParagraph p = para({run(QStringLiteral("Hello "), arial()), run(QStringLiteral("w\u00f6rld \u20ac"), bold)},
                          RtfAlign::Center);
    p.bullet = true;
    const QString rtf = Rtf::write(RtfDocument{{p, para({run(QStringLiteral("second"), arial(8))})}});
    const QString full = QStringLiteral("Hello w\u00f6rld \u20ac\nsecond");
    QCOMPARE(Rtf::read(rtf).plainText(), full);
    for (qsizetype n = 1; n <= rtf.size(); ++n) {
        // A number cut short is read as the shorter number: only the last character may differ.
        QString text = Rtf::read(rtf.left(n)).plainText();
        if (n < rtf.size())
            text.chop(1);
        QVERIFY2(full.startsWith(text), qPrintable(QStringLiteral("%1: %2 [%3]").arg(n).arg(text, rtf.left(n))));
    }
}

void tst_rtf::fuzzCorpusReads()
{
    // The fuzzer's seeds are the editor's own output: each reads to text, and writing it again
    // gives the same document.
    const QDir dir(QStringLiteral(TALLYVO_RTF_CORPUS));
    const QStringList files = dir.entryList(QDir::Files);
    QVERIFY(files.size() >= 5);
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const RtfDocument d = Rtf::read(f.readAll());
        QVERIFY2(!d.plainText().trimmed().isEmpty(), qPrintable(name));
        QVERIFY2(Rtf::read(Rtf::write(d)) == d, qPrintable(name));
    }
}

TALLYVO_TEST_MAIN(tst_rtf)
#include "tst_rtf.moc"
