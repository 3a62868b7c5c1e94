#include "RecordingSpeech.h"
#include "TestSupport.h"

#include "core/DemoSite.h"
#include "core/modSub.h"
#include "display/Announcer.h"
#include "display/ui/MediaPane.h"
#include "display/ui/MoviePanes.h"
#include "display/ui/ScrollPanes.h"
#include "display/ui/frmDisplay.h"
#include "widgets/BgrColor.h"
#include "widgets/Grid.h"
#include "widgets/Twips.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tallyvo;

namespace {

QString dataFile(const char* name)
{
    return QStringLiteral(TALLYVO_TEST_DATA "/") + QLatin1String(name);
}

// A display started by the main window on a theme.
struct Station {
    Station(const DbUrl& url, const Clock& clock, int themeKey, const QStringList& settings = {})
        : speech(new test::RecordingSpeech)
        , announcer(store.store, std::unique_ptr<SpeechEngine>(speech))
        , display((apply(settings), url), store.store, clock, announcer, DisplayStart{themeKey, 30, FeedTiming{}})
    {
    }
    // "section/key=value" pairs for the application "Queue".
    bool apply(const QStringList& settings)
    {
        for (const QString& s : settings) {
            const QStringList kv = s.split(QLatin1Char('='));
            const QStringList sk = kv.at(0).split(QLatin1Char('/'));
            store.store.setValue(QStringLiteral("Queue"), sk.at(0), sk.at(1), kv.at(1));
        }
        return true;
    }
    test::TempSettings store;
    test::RecordingSpeech* speech;
    Announcer announcer;
    frmDisplay display;

    Grid* fg() const { return display.FG(); }
    int px(double twips) const { return twipsToPixels(twips, display.logicalDpiX()); }
    int py(double twips) const { return twipsToPixels(twips, display.logicalDpiY()); }
};

// A theme row with the given columns; the rest NULL.
int addTheme(Database& db, const QVariantMap& values)
{
    QStringList names;
    QStringList marks;
    QVariantList bound;
    for (auto it = values.begin(); it != values.end(); ++it) {
        names << it.key();
        marks << QStringLiteral("?");
        bound << it.value();
    }
    return int(db.insert(QStringLiteral("INSERT INTO tbltheme (%1) VALUES (%2) RETURNING themeauto")
                             .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                         bound));
}

void addPositions(Database& db, int theme, const QVariantMap& values)
{
    QStringList names{QStringLiteral("themeauto")};
    QStringList marks{QStringLiteral("?")};
    QVariantList bound{theme};
    for (auto it = values.begin(); it != values.end(); ++it) {
        names << it.key();
        marks << QStringLiteral("?");
        bound << it.value();
    }
    db.run(QStringLiteral("INSERT INTO tblpos (%1) VALUES (%2)").arg(names.join(QLatin1Char(',')),
                                                                     marks.join(QLatin1Char(','))),
           bound);
}

QVariantMap fullPositions()
{
    QVariantMap p;
    const char* names[] = {"logoleft", "logotop", "logowidth", "logoheight", "timeleft", "timetop", "timewidth",
                           "timeheight", "tblleft", "tbltop", "tblwidth", "tblheight", "videoleft", "videotop",
                           "videowidth", "videoheight", "meleft", "metop", "mewidth", "meheight", "ttlleft",
                           "ttltop", "ttlwidth", "ttlheight", "newsleft", "newstop", "newswidth", "newsheight"};
    const int values[] = {150, 150, 1500, 900, 6000, 150, 1500, 900, 150, 1200, 4000, 4000, 4500, 1200,
                          2500, 2500, 0, 0, 7200, 6000, 1800, 150, 4000, 600, 0, 5400, 7200, 400};
    for (int i = 0; i < 28; ++i)
        p.insert(QLatin1String(names[i]), values[i]);
    return p;
}

} // namespace

class tst_theme : public QObject {
    Q_OBJECT

private:
    test::FakeClock m_clock;

private slots:
    // Each demo theme as a visitor sees it: every pane where the theme puts it, at twice the
    // stored size, the table in the theme's look. TALLYVO_DISPLAY_SHOTS names a folder for
    // pictures of the window.
    void demoThemes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Black H") << QStringLiteral("Black H");
        QTest::newRow("HR1") << QStringLiteral("HR1");
    }

    void demoThemes()
    {
        QFETCH(QString, name);
        test::TempDatabase tdb;
        QVERIFY(DemoSite::create(tdb.db()));
        const int key = modSub::getThemeKey(tdb.db(), name);
        QVERIFY(key > 0);
        Station s(tdb.url(), m_clock, key);
        frmDisplay& d = s.display;
        d.show();
        QCOMPARE(d.windowTitle(), QStringLiteral("Display Solution"));
        QVERIFY(d.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(d.theme().found);
        QCOMPARE(d.size(), QSize(s.px(14400 * 2), s.py(8100 * 2)));
        QCOMPARE(d.FG()->geometry(), QRect(s.px(300), s.py(3000), s.px(13200), s.py(11100)));
        QCOMPARE(d.SFLogo()->isHidden(), true); // the demo has no logo
        QCOMPARE(d.lblTtl()->geometry(), QRect(s.px(5400), s.py(300), s.px(17400), s.py(2400)));
        QCOMPARE(d.videoPane()->geometry(), QRect(s.px(13800), s.py(3000), s.px(14700), s.py(11100)));
        QVERIFY(d.Shape1()->isVisible());
        QCOMPARE(d.Shape1()->geometry().topLeft(), d.FG()->geometry().topLeft() - QPoint(s.px(10), s.py(10)));

        // The token table.
        QCOMPARE(d.R(), 9);
        QCOMPARE(s.fg()->rows(), 10);
        QCOMPARE(s.fg()->cols(), 3);
        QCOMPARE(d.FG1()->rows(), 10);
        QCOMPARE(s.fg()->colWidth(0), 1);
        QCOMPARE(s.fg()->colWidth(1), 6300);
        QCOMPARE(s.fg()->colWidth(2), 6800);
        QCOMPARE(s.fg()->rowHeightMin(), 1100);
        QCOMPARE(d.headerFlag(), 1);
        QCOMPARE(s.fg()->textMatrix(0, 1), QStringLiteral("Token"));
        QCOMPARE(s.fg()->textMatrix(0, 2), QStringLiteral("Counter"));
        QCOMPARE(s.fg()->cellFontName(1, 1), QStringLiteral("Arial"));
        QCOMPARE(s.fg()->cellFontSize(1, 1), 28.0);
        QVERIFY(s.fg()->cellFontBold(1, 1));
        QCOMPARE(s.fg()->cellFontSize(1, 2), 20.0);
        QCOMPARE(s.fg()->cellFontSize(0, 1), 20.0);
        QVERIFY(s.fg()->cellBackColor(1, 1).isValid());
        QVERIFY(!s.fg()->cellBackColor(2, 1).isValid());

        // Title scrolling, text clock, the demo's pictures in the video pane, news off until started.
        QVERIFY(d.lblTtl()->isVisible());
        QVERIFY(d.lblTtl()->isScrolling());
        QVERIFY(d.lblTime()->isVisible());
        QVERIFY(d.SFTime()->isHidden());
        QCOMPARE(d.lblTime()->text(), QStringLiteral("14-Mar-2026 10:00"));
        QVERIFY(d.videoPane()->isVisible());
        QTRY_VERIFY(d.videoPane()->isPictureTimerActive());
        QVERIFY(!d.videoPane()->isWaitingToRetry());
        QVERIFY(d.videoPane()->playlist().current().path.endsWith(QLatin1String("/demo/welcome.jpg")));
        QVERIFY(!d.videoPane()->picture().isNull());
        QVERIFY(!d.isNewsRunning());

        d.startNews();
        QVERIFY(d.isNewsRunning());
        QCOMPARE(d.newsBand()->geometry(), QRect(0, s.py(14400), d.width(), s.py(1500)));
        QCOMPARE(d.newsBand()->band().labels().size(), 2);
        QTRY_VERIFY(d.lblTtl()->x() < -10);

        if (const QString folder = qEnvironmentVariable("TALLYVO_DISPLAY_SHOTS"); !folder.isEmpty()) {
            tdb.db().run(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, "
                                        "tickDate, callNote) VALUES (1, 'A7', 'Room 1', '0', 0, ?, 'Dr. Rao')"),
                         {m_clock.todayText()});
            QTRY_COMPARE(s.fg()->textMatrix(1, 1), QStringLiteral("A7 "));
            QTest::qWait(2500);
            QDir().mkpath(folder);
            QVERIFY(d.grab().save(QDir(folder).filePath(name + QStringLiteral(".png"))));
        }
        d.stopNews();
        QVERIFY(!d.isNewsRunning());
        QVERIFY(d.newsBand()->isHidden());
    }

    // Column widths from colwidth, alternate rows, enableH 0 with a tblheader row.
    void tableSteps()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("colums"), QStringLiteral("3")},
                                            {QStringLiteral("rows"), QStringLiteral("12")},
                                            {QStringLiteral("colwidth"), QStringLiteral("2500;2500")},
                                            {QStringLiteral("altcolr"), 0x00FF00},
                                            {QStringLiteral("backgroundclr"), 0x0000FF},
                                            {QStringLiteral("enableH"), 0},
                                            {QStringLiteral("Column1"), QStringLiteral("Ignored")},
                                            {QStringLiteral("hdfont"), QStringLiteral("Courier")},
                                            {QStringLiteral("hdfntsize"), QStringLiteral("31")}});
        tdb.db().run(QStringLiteral("INSERT INTO tblheader (themeauto, caption1, caption2, caption3) "
                                    "VALUES (?, 'Ticket', 'Go to', 'Note')"),
                     {key});
        Grid fresh;
        fresh.setCols(4);
        Station s(tdb.url(), m_clock, key);
        Grid* fg = s.fg();
        QCOMPARE(fg->cols(), 4);
        QCOMPARE(fg->rows(), 13);
        QCOMPARE(fg->colWidth(0), 1);
        QCOMPARE(fg->colWidth(1), 5000);
        QCOMPARE(fg->colWidth(2), 5000);
        QCOMPARE(fg->colWidth(3), fresh.colWidth(3));
        for (int r = 1; r <= 12; ++r) {
            for (int c = 1; c <= 3; ++c)
                QCOMPARE(fg->cellBackColor(r, c), r % 2 == 1 ? QColor(0, 255, 0) : QColor());
        }
        QCOMPARE(fg->backColor(), QColor(255, 0, 0));
        QCOMPARE(s.display.headerFlag(), 0);
        QCOMPARE(fg->textMatrix(0, 1), QStringLiteral("Ticket"));
        QCOMPARE(fg->textMatrix(0, 2), QStringLiteral("Go to"));
        QCOMPARE(fg->textMatrix(0, 3), QStringLiteral("Note"));
        QCOMPARE(fg->cellFontName(0, 1), fg->font().family());
        QCOMPARE(fg->cellFontSize(0, 1), fg->font().pointSizeF());
    }

    // Missing and bad values skip their step; the display comes up all the same.
    void badValuesSkipped()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("colums"), QStringLiteral("2")},
                                            {QStringLiteral("rows"), QStringLiteral("many")},
                                            {QStringLiteral("colwidth"), QStringLiteral("wide;600")},
                                            {QStringLiteral("sizecrr"), QStringLiteral("big")},
                                            {QStringLiteral("fntcrr"), QStringLiteral("Arial")},
                                            {QStringLiteral("rowheight"), QStringLiteral("?")},
                                            {QStringLiteral("logo"), dataFile("missing.gif")},
                                            {QStringLiteral("bgimage"), QString()},
                                            {QStringLiteral("displaytime"), 1},
                                            {QStringLiteral("clockfile"), QStringLiteral("nothere.svg")},
                                            {QStringLiteral("enablemovie"), 0}});
        Station s(tdb.url(), m_clock, key);
        s.display.show();
        QVERIFY(s.display.theme().found);
        QCOMPARE(s.display.R(), 12);
        QCOMPARE(s.fg()->colWidth(2), 1200);
        QCOMPARE(s.fg()->cellFontName(1, 1), QStringLiteral("Arial"));
        QVERIFY(s.display.lblTtl()->isHidden());
        QVERIFY(s.display.videoPane()->isHidden());
        QVERIFY(!s.display.SFLogo()->hasPicture());
        QVERIFY(!s.display.SFTime()->hasFace());
        QCOMPARE(s.display.palette().color(QPalette::Window), QColor(128, 128, 128));
        // The feed runs as ever.
        QTRY_VERIFY_WITH_TIMEOUT(s.display.feed().isConnected(), 10000);
    }

    // A background picture leaves the window's colour alone, so the title is mid grey.
    void backgroundPicture()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("bgimage"), dataFile("picture.jpg")},
                                            {QStringLiteral("screenclr"), 0x0000FF},
                                            {QStringLiteral("ttlname"), QStringLiteral("Welcome")},
                                            {QStringLiteral("ttlcolor"), 0xFFFFFF},
                                            {QStringLiteral("scroll"), 0}});
        Station s(tdb.url(), m_clock, key);
        QVERIFY(!s.display.backgroundPicture().isNull());
        QCOMPARE(s.display.lblTtl()->backColor(), QColor(128, 128, 128));
        QVERIFY(!s.display.lblTtl()->isScrolling());
        QCOMPARE(s.display.lblTtl()->x(), 0.0);

        const int plain = addTheme(tdb.db(), {{QStringLiteral("screenclr"), 0x0000FF},
                                              {QStringLiteral("ttlname"), QStringLiteral("Welcome")}});
        Station t(tdb.url(), m_clock, plain);
        QCOMPARE(t.display.lblTtl()->backColor(), QColor(255, 0, 0));
        QVERIFY(t.display.backgroundPicture().isNull());
    }

    // The main window's scroll speed reaches a running display at the next step; nothing ticks
    // while nothing moves.
    void scrollSpeed()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("ttlname"), QStringLiteral("Welcome")},
                                            {QStringLiteral("scroll"), 1}});
        Station s(tdb.url(), m_clock, key);
        s.display.show();
        s.display.setScrollSpeed(0);
        QTest::qWait(150);
        QCOMPARE(s.display.lblTtl()->x(), 0.0);
        s.display.setScrollSpeed(600);
        QTRY_VERIFY(s.display.lblTtl()->x() < -40);

        const int still = addTheme(tdb.db(), {{QStringLiteral("ttlname"), QStringLiteral("Welcome")},
                                              {QStringLiteral("scroll"), 0}});
        Station t(tdb.url(), m_clock, still);
        auto* frame = t.display.findChild<QTimer*>(QStringLiteral("tmrFrame"));
        QVERIFY(!frame->isActive());
        t.display.startNews();
        QVERIFY(frame->isActive());
        // No news to show: the band only waits for its next read, without drawing frames.
        QVERIFY(frame->interval() > 10 * ScrollMotion::kScrollStepMs);
        tdb.db().run(QStringLiteral("INSERT INTO tblscroll (message, msgrtf, msgrtfcopy, active, direction) "
                                    "VALUES ('Open', '', '', '1', 'Left')"));
        // To the end of the empty pass, past the empty way back, to the next read.
        t.display.newsBand()->stepBy(1e6);
        t.display.newsBand()->stepBy(1);
        t.display.newsBand()->stepBy(1);
        QVERIFY(t.display.newsBand()->band().hasMessages());
        QTRY_COMPARE(frame->interval(), ScrollMotion::kScrollStepMs);
        t.display.stopNews();
        QVERIFY(!frame->isActive());
    }

    // Every stored length is doubled; a missing one ends the placement there.
    void positions()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("ttlname"), QStringLiteral("T")}});
        addPositions(tdb.db(), key, fullPositions());
        Station s(tdb.url(), m_clock, key);
        QCOMPARE(s.display.SFLogo()->geometry(), QRect(s.px(300), s.py(300), s.px(3000), s.py(1800)));
        QCOMPARE(s.display.lblTime()->geometry(), QRect(s.px(12000), s.py(300), s.px(3000), s.py(1800)));
        QCOMPARE(s.display.size(), QSize(s.px(14400), s.py(12000)));
        QCOMPARE(s.display.FG()->geometry(), QRect(s.px(300), s.py(2400), s.px(8000), s.py(8000)));
        QCOMPARE(s.display.lblTtl()->geometry(), QRect(s.px(3600), s.py(300), s.px(8000), s.py(1200)));
        QCOMPARE(s.display.pos(), QPoint(0, 0));

        QVariantMap broken = fullPositions();
        broken.insert(QStringLiteral("timewidth"), QVariant());
        const int key2 = addTheme(tdb.db(), {{QStringLiteral("ttlname"), QStringLiteral("T")}});
        addPositions(tdb.db(), key2, broken);
        Station t(tdb.url(), m_clock, key2);
        QCOMPARE(t.display.SFLogo()->geometry(), QRect(t.px(300), t.py(300), t.px(3000), t.py(1800)));
        QVERIFY(t.display.FG()->geometry() != QRect(t.px(300), t.py(2400), t.px(8000), t.py(8000)));
        QVERIFY(t.display.size() != QSize(t.px(14400), t.py(12000)));
    }

    void screenModes()
    {
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(displayOrigin(QStringLiteral("Single"), two, 0), QPoint(0, 0));
        QCOMPARE(displayOrigin(QStringLiteral("Dual"), two, 0), QPoint(1920, 0));
        // The primary need not be the first screen listed.
        QCOMPARE(displayOrigin(QStringLiteral("Dual"), two, 1), QPoint(0, 0));
        QCOMPARE(displayOrigin(QStringLiteral("Single"), two, 1), QPoint(1920, 0));
        const QList<QRect> one{QRect(0, 0, 1920, 1080)};
        QCOMPARE(displayOrigin(QStringLiteral("Dual"), one, 0), QPoint(0, 0));
        QCOMPARE(displayOrigin(QStringLiteral("Dual"), {}, 0), QPoint(0, 0));
    }

    // A key that names no theme: the designed look, and the display works.
    void noTheme()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock, 4242);
        QVERIFY(!s.display.theme().found);
        QCOMPARE(s.display.R(), 12);
        QCOMPARE(s.fg()->textMatrix(0, 1), QStringLiteral("Token"));
        QCOMPARE(s.fg()->geometry(), s.display.rect());
        QVERIFY(s.display.lblTtl()->isHidden());
        QVERIFY(s.display.videoPane()->isHidden());
        s.display.startNews();
        QVERIFY(s.display.isNewsRunning());
        QCOMPARE(s.display.newsBand()->geometry().bottom(), s.display.rect().bottom());
    }

    // The SVG face with its hands turned, or the text clock in the theme's format.
    void clocks()
    {
        test::TempDatabase tdb;
        const int face = addTheme(tdb.db(), {{QStringLiteral("displaytime"), 1},
                                             {QStringLiteral("clockfile"), QStringLiteral("classic.svg")}});
        Station s(tdb.url(), m_clock, face);
        s.display.show();
        QVERIFY(s.display.SFTime()->isVisible());
        QVERIFY(s.display.lblTime()->isHidden());
        QVERIFY(s.display.SFTime()->hasFace());
        // 10:00:00: the hour hand at 300 degrees.
        QVERIFY(s.display.SFTime()->shownFace().contains("rotate(300.000 100 100)"));
        QVERIFY(!s.display.findChild<QTimer*>(QStringLiteral("Timer3"))->isActive());

        const int text = addTheme(tdb.db(), {{QStringLiteral("displaytime"), 1},
                                             {QStringLiteral("tformat"), QStringLiteral("hh:nn:ss")},
                                             {QStringLiteral("clrtime"), 0x0000FF},
                                             {QStringLiteral("sizetime"), QStringLiteral("26")}});
        test::FakeClock clock(m_clock.day, QTime(9, 41, 5));
        Station t(tdb.url(), clock, text);
        QCOMPARE(t.display.lblTime()->text(), QStringLiteral("09:41:05"));
        QCOMPARE(t.display.lblTime()->font().pointSizeF(), 26.0);
        clock.time = QTime(9, 41, 6);
        QTRY_COMPARE(t.display.lblTime()->text(), QStringLiteral("09:41:06"));

        const int none = addTheme(tdb.db(), {{QStringLiteral("displaytime"), 0},
                                             {QStringLiteral("clockfile"), QStringLiteral("classic.svg")}});
        Station u(tdb.url(), m_clock, none);
        QVERIFY(u.display.SFTime()->isHidden());
        QVERIFY(u.display.lblTime()->isHidden());
    }

    // Pictures in the header cells and the data cells, painted to each cell's size.
    void cellPictures()
    {
        test::TempDatabase tdb;
        const int key = addTheme(tdb.db(), {{QStringLiteral("colums"), QStringLiteral("2")},
                                            {QStringLiteral("rows"), QStringLiteral("3")},
                                            {QStringLiteral("colwidth"), QStringLiteral("1500;3000")},
                                            {QStringLiteral("rowheight"), QStringLiteral("450")},
                                            {QStringLiteral("img1"), dataFile("picture.jpg")},
                                            {QStringLiteral("img2"), dataFile("picture.jpg")}});
        Station s(tdb.url(), m_clock, key);
        for (int r = 0; r <= 3; ++r) {
            QCOMPARE(s.fg()->cellPicture(r, 1).size(), QSize(s.px(3000), s.py(s.fg()->rowHeight(r))));
            QCOMPARE(s.fg()->cellPicture(r, 2).size(), QSize(s.px(6000), s.py(s.fg()->rowHeight(r))));
        }
        QVERIFY(!s.display.addimg2(dataFile("missing.jpg")));
        QVERIFY(!s.fg()->cellPicture(2, 2).isNull());
    }

    // An animated logo plays; a Flash movie shows nothing and breaks nothing.
    void logos()
    {
        test::TempDatabase tdb;
        const int gif = addTheme(tdb.db(), {{QStringLiteral("logo"), dataFile("logo.gif")}});
        Station s(tdb.url(), m_clock, gif);
        QVERIFY(s.display.SFLogo()->isPlaying());
        QVERIFY(s.display.SFLogo()->isVisibleTo(&s.display));

        QTemporaryDir dir;
        const QString swf = dir.filePath(QStringLiteral("logo.swf"));
        QFile f(swf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArrayLiteral("FWS\x0A") + QByteArray(200, '\x01'));
        f.close();
        const int flash = addTheme(tdb.db(), {{QStringLiteral("logo"), swf}, {QStringLiteral("rows"), 4}});
        Station t(tdb.url(), m_clock, flash);
        t.display.show();
        QVERIFY(!t.display.SFLogo()->hasPicture());
        QCOMPARE(t.display.R(), 4);
    }

    // The live input wins over the playlist; without it the playlist plays the active rows.
    void liveInputWins()
    {
        test::TempDatabase tdb;
        tdb.db().run(QStringLiteral("INSERT INTO tblVideo (vidPath, vidDesc, active) VALUES (?, 'ad', '1')"),
                     {dataFile("picture.jpg")});
        const int key = addTheme(tdb.db(), {{QStringLiteral("enablemovie"), 1}, {QStringLiteral("volume"), QStringLiteral("7")}});
        Station live(tdb.url(), m_clock, key,
                     {QStringLiteral("Video/VideoIn=1"), QStringLiteral("Video/Source=0")});
        QVERIFY(live.display.videoPane()->isLive());
        QVERIFY(live.display.videoPane()->player()->source().isEmpty());
        QVERIFY(!live.display.videoPane()->isPictureTimerActive());

        Station playlist(tdb.url(), m_clock, key, {QStringLiteral("Pic/Duration=70")});
        QVERIFY(!playlist.display.videoPane()->isLive());
        QVERIFY(playlist.display.videoPane()->isPictureTimerActive());
        QCOMPARE(playlist.display.videoPane()->pictureTime(), 70000);
        QCOMPARE(playlist.display.videoPane()->volume(), 0.7f);
    }

    // The news messages in their own fonts and colours, started and stopped by the main window;
    // a message switched on meanwhile comes with the next load.
    void newsFromTheTable()
    {
        test::TempDatabase tdb;
        auto addNews = [&](const QString& text, const QString& direction, const QString& active) {
            tdb.db().run(QStringLiteral("INSERT INTO tblscroll (message, msgrtf, msgrtfcopy, active, fontname, "
                                        "fontsize, fontcolor, bold, italic, direction) "
                                        "VALUES (?, '', '', ?, 'DejaVu Serif', '30', ?, 1, -1, ?)"),
                         {text, active, 0x00FFFF, direction});
        };
        addNews(QStringLiteral("It's open"), QStringLiteral("Left"), QStringLiteral("1"));
        addNews(QStringLiteral("hidden"), QStringLiteral("Left"), QStringLiteral("0"));
        addNews(QStringLiteral("back"), QStringLiteral("Right"), QStringLiteral("1"));
        const int key = addTheme(tdb.db(), {{QStringLiteral("newsBG"), 0x800000}});
        Station s(tdb.url(), m_clock, key);
        s.display.startNews();
        const NewsPane* band = s.display.newsBand();
        QCOMPARE(band->stripColor(), QColor(0, 0, 128));
        QCOMPARE(band->band().labels().size(), 2);
        const NewsMessage& m = band->band().labels().at(1).message;
        QCOMPARE(m.text, QStringLiteral("It's open"));
        QCOMPARE(m.fontName, QStringLiteral("DejaVu Serif"));
        QCOMPARE(m.fontSize, std::optional<double>(30));
        QCOMPARE(m.color, std::optional<int>(0x00FFFF));
        QVERIFY(m.bold && m.italic);
        QVERIFY(band->band().labels().at(1).left >= s.display.width());

        addNews(QStringLiteral("later"), QStringLiteral("Left"), QStringLiteral("1"));
        s.display.newsBand()->stepBy(1e6);
        s.display.newsBand()->stepBy(1);
        QCOMPARE(band->band().state(), NewsBand::State::MovingRight);
        QCOMPARE(band->band().labels().at(1).message.text, QStringLiteral("back"));
        s.display.newsBand()->stepBy(1e6);
        s.display.newsBand()->stepBy(1);
        QCOMPARE(band->band().labels().size(), 3);
        QCOMPARE(band->band().labels().at(2).message.text, QStringLiteral("later"));

        // A read that fails keeps what was read last rather than emptying the band.
        tdb.db().run(QStringLiteral("DROP TABLE tblscroll"));
        s.display.newsBand()->stepBy(1e6);
        s.display.newsBand()->stepBy(1);
        QCOMPARE(band->band().state(), NewsBand::State::MovingRight);
        QCOMPARE(band->band().labels().size(), 2);
        QCOMPARE(band->band().labels().at(1).message.text, QStringLiteral("back"));

        s.display.stopNews();
        QVERIFY(!s.display.isNewsRunning());
        QVERIFY(!band->band().hasMessages());
    }
};

TALLYVO_TEST_MAIN(tst_theme)
#include "tst_theme.moc"
