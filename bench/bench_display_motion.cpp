// Measures how smoothly the public display moves: the demo theme with its scrolling title, the
// news band running and a video playing, while a counter station calls a token every few
// seconds (each call shifts the table, blinks, chimes and is spoken). Prints "name: value" lines:
// the news band's frame interval (p50, p99, longest), the same while calls are being announced,
// the video's own frame rate beside the frames decoded and drawn a second and the intervals
// between decoded frames, CPU use and resident memory. The playlist holds the video alone.
//
//   bench_display_motion [--seconds S] [--call-every-ms MS] [--video FILE|none] [--speech-ms MS]
//                        [--title-scroll 0|1] [--theme NAME]
//
// Run it on an X display (Xvfb 1920x1080 is what the figures in the notes come from); without
// one it runs offscreen, which measures the drawing but not the X server.

#include "core/Clock.h"
#include "core/Database.h"
#include "core/DemoSite.h"
#include "core/Schema.h"
#include "core/SettingsStore.h"
#include "core/modSub.h"
#include "display/Announcer.h"
#include "display/SpeechEngine.h"
#include "display/ui/MediaPane.h"
#include "display/ui/ScrollPanes.h"
#include "display/ui/VideoSurface.h"
#include "display/ui/frmDisplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace tallyvo;

namespace {

// Speaks nothing but takes as long as a spoken call, so announcements overlap the measurement.
class TimedSpeech final : public SpeechEngine {
public:
    explicit TimedSpeech(int ms)
        : m_ms(ms)
    {
    }
    QString error() const override { return QString(); }
    QStringList voices() const override { return {QStringLiteral("bench")}; }
    bool setVoice(int) override { return true; }
    bool setRate(double) override { return true; }
    void say(const QString&) override { QTimer::singleShot(m_ms, this, [this] { emit finished(); }); }

private:
    int m_ms;
};

void print(const char* name, double value)
{
    std::printf("%s: %.3f\n", name, value);
    std::fflush(stdout);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident memory now and at its peak, in MB.
std::pair<double, double> residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double now = 0;
    double peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() >= 2 && parts[0] == "VmRSS:")
                now = parts[1].toDouble() / 1024.0;
            if (parts.size() >= 2 && parts[0] == "VmHWM:")
                peak = parts[1].toDouble() / 1024.0;
        }
    }
    return {now, peak};
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    int seconds = 30;
    int callEveryMs = 4000;
    int speechMs = 2500;
    QString video = QStringLiteral(TALLYVO_BENCH_VIDEO);
    bool titleScroll = true;
    QString themeName = QStringLiteral("Black H");
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--call-every-ms"))
            callEveryMs = std::max(100, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--speech-ms"))
            speechMs = std::max(0, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--video"))
            video = args[i + 1];
        else if (args[i] == QLatin1String("--theme"))
            themeName = args[i + 1];
        else if (args[i] == QLatin1String("--title-scroll"))
            titleScroll = args[i + 1] != QLatin1String("0");
    }
    const bool withVideo = video != QLatin1String("none");
    if (withVideo && !QFileInfo(video).isFile()) {
        std::fprintf(stderr, "no video file at %s (--video FILE)\n", qPrintable(video));
        return 2;
    }

    QTemporaryDir dir;
    const DbUrl url = DbUrl::sqlite(dir.filePath(QStringLiteral("bench.sqlite")));
    Database counter(url);
    QString error;
    if (!counter.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Schema::upgrade(counter);
    DemoSite::create(counter);
    if (withVideo) {
        // The video alone: with the demo site's pictures in the playlist the pane shows a still
        // most of the time, and the frame figures would measure almost no video.
        counter.run(QStringLiteral("UPDATE tblVideo SET active='0'"));
        counter.run(QStringLiteral("INSERT INTO tblVideo (vidPath, vidDesc, active) VALUES (?, 'bench', '1')"),
                    {video});
    }
    counter.run(QStringLiteral("INSERT INTO tblscroll (message, msgrtf, msgrtfcopy, active, fontname, fontsize, "
                               "fontcolor, bold, italic, direction) VALUES (?, '', '', '1', 'DejaVu Sans', '28', "
                               "65535, 1, 1, 'Right')"),
                {QStringLiteral("Pharmacy open until 20:00 - Laboratory results from 14:00")});
    const int theme = modSub::getThemeKey(counter, themeName);
    counter.run(QStringLiteral("UPDATE tbltheme SET scroll=? WHERE themeauto=?"), {titleScroll ? 1 : 0, theme});

    SettingsStore settings(dir.filePath(QStringLiteral("settings")));
    SystemClock clock;
    Announcer announcer(settings, std::make_unique<TimedSpeech>(speechMs));
    announcer.addVoice();
    frmDisplay display(url, settings, clock, announcer, DisplayStart{theme, 30, FeedTiming{}});
    display.show();
    display.startNews();

    // Frame times of the news band, and whether an announcement was under way at each.
    std::vector<double> all;
    std::vector<double> calling;
    QElapsedTimer frames;
    frames.start();
    qint64 last = -1;
    bool measuring = false;
    QObject::connect(display.newsBand(), &NewsPane::framePainted, &app, [&] {
        const qint64 now = frames.nsecsElapsed();
        if (measuring && last >= 0) {
            const double ms = double(now - last) / 1e6;
            all.push_back(ms);
            if (announcer.isSpeaking() || display.isBlinking())
                calling.push_back(ms);
        }
        last = now;
    });
    int videoStarts = 0;
    QObject::connect(display.videoPane(), &MediaPane::entryShown, &app, [&](const QString&, bool picture) {
        if (!picture)
            ++videoStarts;
    });
    // Intervals between the frames the decoder delivers, beside the news band's.
    std::vector<double> videoIntervals;
    qint64 lastVideo = -1;
    QObject::connect(display.videoPane()->surface()->sink(), &QVideoSink::videoFrameChanged, &app,
                     [&](const QVideoFrame& frame) {
                         if (!frame.isValid())
                             return;
                         const qint64 now = frames.nsecsElapsed();
                         if (measuring && lastVideo >= 0)
                             videoIntervals.push_back(double(now - lastVideo) / 1e6);
                         lastVideo = now;
                     });

    // Let the window settle and the video start before measuring.
    wait(2000);
    int calls = 0;
    QTimer caller;
    QObject::connect(&caller, &QTimer::timeout, &app, [&] {
        ++calls;
        counter.insert(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, tickDate, "
                                      "callNote) VALUES (1, ?, 'Room 1', '0', 0, ?, '') RETURNING callauto"),
                       {QStringLiteral("A%1").arg(calls), clock.todayText()});
    });
    caller.start(callEveryMs);
    measuring = true;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    const quint64 framesBefore = display.newsBand()->frames();
    const quint64 videoBefore = display.videoPane()->surface()->frames();
    const quint64 videoShownBefore = display.videoPane()->surface()->framesShown();
    wait(seconds * 1000);
    measuring = false;
    caller.stop();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const auto [rss, peak] = residentMb();

    const double longest = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    const double longestCalling = calling.empty() ? 0 : *std::max_element(calling.begin(), calling.end());
    print("seconds", elapsed);
    print("platform_is_x11", QGuiApplication::platformName() == QLatin1String("xcb") ? 1 : 0);
    print("news_frames_per_s", double(display.newsBand()->frames() - framesBefore) / elapsed);
    print("news_frame_interval_p50_ms", percentile(all, 50));
    print("news_frame_interval_p99_ms", percentile(all, 99));
    print("news_longest_stall_ms", longest);
    print("news_frames_over_50ms", double(std::count_if(all.begin(), all.end(), [](double v) { return v > 50; })));
    print("calls_announced", double(calls));
    print("news_frames_while_announcing", double(calling.size()));
    print("news_frame_interval_p99_while_announcing_ms", percentile(calling, 99));
    print("news_longest_stall_while_announcing_ms", longestCalling);
    print("video_playing", display.videoPane()->player()->playbackState() == QMediaPlayer::PlayingState ? 1 : 0);
    print("video_starts", double(videoStarts));
    const QVariant clipRate = display.videoPane()->player()->metaData().value(QMediaMetaData::VideoFrameRate);
    print("video_clip_frames_per_s", clipRate.isValid() ? clipRate.toDouble() : 0.0);
    print("video_frames_decoded_per_s", double(display.videoPane()->surface()->frames() - videoBefore) / elapsed);
    print("video_frame_interval_p50_ms", percentile(videoIntervals, 50));
    print("video_frame_interval_p99_ms", percentile(videoIntervals, 99));
    print("video_frames_drawn_per_s",
          double(display.videoPane()->surface()->framesShown() - videoShownBefore) / elapsed);
    print("cpu_percent_of_one_core", 100.0 * cpu / elapsed);
    print("resident_mb", rss);
    print("resident_peak_mb", peak);
    return 0;
}
