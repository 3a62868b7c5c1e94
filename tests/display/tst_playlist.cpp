#include "TestSupport.h"

#include "display/Playlist.h"
#include "display/ui/MediaPane.h"

#include <QApplication>
#include <QCamera>
#include <QDir>
#include <QFile>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVideoFrame>

using namespace tallyvo;

namespace {

QString dataFile(const char* name)
{
    return QStringLiteral(TALLYVO_TEST_DATA "/") + QLatin1String(name);
}

// A video pane on rows the test changes at will.
struct Pane {
    Pane()
        : pane([this] {
            ++reads;
            return rows;
        })
    {
        pane.resize(160, 120);
        pane.show();
    }
    QStringList rows;
    int reads = 0;
    MediaPane pane;
};

} // namespace

class tst_playlist : public QObject {
    Q_OBJECT

private slots:
    void pictureOrVideo()
    {
        QVERIFY(Playlist::isPicture(QStringLiteral("/ads/a.jpg")));
        QVERIFY(Playlist::isPicture(QStringLiteral("/ads/A.JPG")));
        QVERIFY(Playlist::isPicture(QStringLiteral("/ads/a.JpG")));
        QVERIFY(!Playlist::isPicture(QStringLiteral("/ads/a.jpeg")));
        QVERIFY(!Playlist::isPicture(QStringLiteral("/ads/a.mp4")));
        QVERIFY(!Playlist::isPicture(QStringLiteral("jp")));
    }

    // The order of entries, the wrap after the last, and where the index points for a picture.
    void sequence()
    {
        Playlist list;
        const QStringList rows{QStringLiteral("a.mp4"), QStringLiteral("b.jpg"), QStringLiteral("c.avi")};
        auto e = list.getNextVid(0, rows);
        QVERIFY(e && !e->picture && e->path == QLatin1String("a.mp4"));
        QCOMPARE(list.afterEnd(), 1);
        e = list.getNextVid(list.afterEnd(), rows);
        QVERIFY(e && e->picture);
        QCOMPARE(list.index(), 2);
        e = list.getNextVid(list.index(), rows);
        QCOMPARE(e->path, QStringLiteral("c.avi"));
        e = list.getNextVid(list.afterEnd(), rows);
        QCOMPARE(e->path, QStringLiteral("a.mp4"));
        QCOMPARE(list.index(), 0);
        QVERIFY(!list.getNextVid(0, {}));
    }

    // Failures are skipped one by one; a whole round without anything played gives up, and one
    // success in between starts the count again.
    void failuresGiveUpAfterOneRound()
    {
        Playlist list;
        const QStringList rows{QStringLiteral("a.mp4"), QStringLiteral("b.mp4"), QStringLiteral("c.mp4")};
        list.getNextVid(0, rows);
        QCOMPARE(list.failed(3), std::optional<int>(1));
        list.getNextVid(1, rows);
        QCOMPARE(list.failed(3), std::optional<int>(2));
        list.getNextVid(2, rows);
        QCOMPARE(list.failed(3), std::nullopt);

        list.getNextVid(0, rows);
        QVERIFY(list.failed(3));
        list.getNextVid(1, rows);
        list.played();
        list.getNextVid(2, rows);
        QVERIFY(list.failed(3));
        list.getNextVid(0, rows);
        QVERIFY(list.failed(3));
    }

    // A playlist of one picture: it is opened again every picture time.
    void onePicture()
    {
        Pane p;
        p.rows = {dataFile("picture.jpg")};
        p.pane.setPictureTime(150);
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        p.pane.startPlaylist(5);
        QCOMPARE(shown.size(), 1);
        QVERIFY(p.pane.isPictureTimerActive());
        QVERIFY(!p.pane.picture().isNull());
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 3, 3000);
        QCOMPARE(shown.at(2).at(0).toString(), dataFile("picture.jpg"));
        QVERIFY(shown.at(2).at(1).toBool());
        QVERIFY(p.reads >= 3);
    }

    // Video to its end, the picture for its time, the video again; the theme's volume.
    void videoThenPicture()
    {
        Pane p;
        p.rows = {dataFile("clip.mp4"), dataFile("picture.jpg")};
        p.pane.setPictureTime(300);
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        QSignalSpy skipped(&p.pane, &MediaPane::entrySkipped);
        p.pane.startPlaylist(4);
        QCOMPARE(p.pane.volume(), 0.4f);
        QVERIFY(!p.pane.isPictureTimerActive());
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 1, 10000);
        QCOMPARE(shown.at(0).at(1).toBool(), false);
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 2, 15000);
        QVERIFY(shown.at(1).at(1).toBool());
        QVERIFY(p.pane.isPictureTimerActive());
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 3, 5000);
        QCOMPARE(shown.at(2).at(0).toString(), dataFile("clip.mp4"));
        QVERIFY(skipped.isEmpty());
    }

    // A playlist of one video plays it again from the start, once per run.
    void oneVideoRepeats()
    {
        Pane p;
        p.rows = {dataFile("clip.mp4")};
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        p.pane.startPlaylist(5);
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 15000); // the clip is 4 s long
        QTest::qWait(1000);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(p.pane.player()->playbackState(), QMediaPlayer::PlayingState);
    }

    // "jpeg" is a video to the player: a picture under that name still plays or is skipped, it
    // never holds the pane on the picture timer.
    void jpegIsAVideo()
    {
        QTemporaryDir dir;
        const QString jpeg = dir.filePath(QStringLiteral("photo.jpeg"));
        QVERIFY(QFile::copy(dataFile("picture.jpg"), jpeg));
        const QString upper = dir.filePath(QStringLiteral("PHOTO.JPG"));
        QVERIFY(QFile::copy(dataFile("picture.jpg"), upper));
        Pane p;
        p.rows = {jpeg, upper};
        p.pane.setPictureTime(60000);
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        p.pane.startPlaylist(5);
        QVERIFY(!p.pane.isPictureTimerActive());
        QTRY_VERIFY_WITH_TIMEOUT(p.pane.isPictureTimerActive(), 15000);
        QCOMPARE(shown.last().at(0).toString(), upper);
        QVERIFY(shown.last().at(1).toBool());
    }

    // Picture time 0: the picture stays; a time above 65 s is kept as given.
    void pictureTimes()
    {
        Pane p;
        p.rows = {dataFile("picture.jpg")};
        p.pane.setPictureTime(0);
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        p.pane.startPlaylist(5);
        QCOMPARE(shown.size(), 1);
        QVERIFY(!p.pane.isPictureTimerActive());
        QTest::qWait(300);
        QCOMPARE(shown.size(), 1);

        p.pane.setPictureTime(90000);
        p.pane.startPlaylist(5);
        QVERIFY(p.pane.isPictureTimerActive());
        QCOMPARE(p.pane.findChild<QTimer*>(QStringLiteral("Timer9"))->remainingTime() > 65535, true);
    }

    // Nothing playable: one round of skips, then a rest; the retry finds the list repaired.
    void allUnplayable()
    {
        QTemporaryDir dir;
        const QString garbage = dir.filePath(QStringLiteral("broken.mp4"));
        QFile f(garbage);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        const QString badPicture = dir.filePath(QStringLiteral("broken.jpg"));
        QVERIFY(QFile::copy(garbage, badPicture));
        Pane p;
        p.rows = {garbage, dir.filePath(QStringLiteral("missing.avi")), badPicture};
        p.pane.setRetryInterval(400);
        QSignalSpy skipped(&p.pane, &MediaPane::entrySkipped);
        QSignalSpy idle(&p.pane, &MediaPane::playlistIdle);
        QSignalSpy shown(&p.pane, &MediaPane::entryShown);
        p.pane.startPlaylist(5);
        QTRY_COMPARE_WITH_TIMEOUT(idle.size(), 1, 15000);
        QCOMPARE(skipped.size(), 3);
        QVERIFY(p.pane.isWaitingToRetry());
        const int readsAtRest = p.reads;
        QTest::qWait(100);
        QCOMPARE(p.reads, readsAtRest);

        p.rows << dataFile("picture.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 15000);
        QCOMPARE(shown.last().at(0).toString(), dataFile("picture.jpg"));
    }

    void emptyPlaylistRests()
    {
        Pane p;
        p.pane.setRetryInterval(200);
        QSignalSpy idle(&p.pane, &MediaPane::playlistIdle);
        p.pane.startPlaylist(5);
        QCOMPARE(idle.size(), 1);
        QVERIFY(!p.pane.isPictureTimerActive());
        p.rows = {dataFile("picture.jpg")};
        QTRY_VERIFY(p.pane.isPictureTimerActive());
    }

    // Decoder frames come out in their true colours at the size asked for: planar and
    // semi-planar 4:2:0, chroma planes the right way round.
    void frameColours_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("YUV420P") << int(QVideoFrameFormat::Format_YUV420P);
        QTest::newRow("YV12") << int(QVideoFrameFormat::Format_YV12);
        QTest::newRow("NV12") << int(QVideoFrameFormat::Format_NV12);
        QTest::newRow("NV21") << int(QVideoFrameFormat::Format_NV21);
    }

    void frameColours()
    {
        QFETCH(int, format);
        const auto pixelFormat = QVideoFrameFormat::PixelFormat(format);
        // Left half pure red (Y 81, U 90, V 240), right half pure blue (Y 41, U 240, V 110).
        const QSize size(64, 32);
        QVideoFrame frame(QVideoFrameFormat(size, pixelFormat));
        QVERIFY(frame.map(QVideoFrame::WriteOnly));
        const bool planar = frame.planeCount() == 3;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                frame.bits(0)[y * frame.bytesPerLine(0) + x] = x < 32 ? 81 : 41;
        }
        for (int y = 0; y < size.height() / 2; ++y) {
            for (int x = 0; x < size.width() / 2; ++x) {
                int u = x < 16 ? 90 : 240;
                int v = x < 16 ? 240 : 110;
                if (pixelFormat == QVideoFrameFormat::Format_YV12 || pixelFormat == QVideoFrameFormat::Format_NV21)
                    std::swap(u, v);
                if (planar) {
                    frame.bits(1)[y * frame.bytesPerLine(1) + x] = uchar(u);
                    frame.bits(2)[y * frame.bytesPerLine(2) + x] = uchar(v);
                } else {
                    frame.bits(1)[y * frame.bytesPerLine(1) + 2 * x] = uchar(u);
                    frame.bits(1)[y * frame.bytesPerLine(1) + 2 * x + 1] = uchar(v);
                }
            }
        }
        frame.unmap();
        const QImage small = FrameConverter::toImage(frame, QSize(32, 32));
        QCOMPARE(small.size(), QSize(32, 16));
        auto near = [](QRgb c, int r, int g, int b) {
            return std::abs(qRed(c) - r) < 6 && std::abs(qGreen(c) - g) < 6 && std::abs(qBlue(c) - b) < 6;
        };
        QVERIFY2(near(small.pixel(4, 8), 255, 0, 0), qPrintable(QColor(small.pixel(4, 8)).name()));
        QVERIFY2(near(small.pixel(28, 8), 0, 0, 255), qPrintable(QColor(small.pixel(28, 8)).name()));
        const QImage large = FrameConverter::toImage(frame, QSize(640, 640));
        QCOMPARE(large.size(), QSize(640, 320));
        QVERIFY(near(large.pixel(100, 100), 255, 0, 0));
    }

    // The live input takes the pane: the player stays without a source.
    void liveInput()
    {
        Pane p;
        p.rows = {dataFile("picture.jpg")};
        p.pane.startLive(-1);
        QVERIFY(p.pane.isLive());
        QVERIFY(p.pane.camera());
        QCOMPARE(p.reads, 0);
        QVERIFY(p.pane.player()->source().isEmpty());
        p.pane.stop();
        QVERIFY(!p.pane.isLive());
    }
};

TALLYVO_TEST_MAIN(tst_playlist)
#include "tst_playlist.moc"
