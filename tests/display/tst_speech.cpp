#include "TestSupport.h"

#include "display/Announcer.h"
#include "display/QtSpeechEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTextToSpeech>
#include <QTimer>

using namespace tallyvo;

// Real speech through the flite engine, into the sound server of the test run (a null sink).
class tst_speech : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QTextToSpeech::availableEngines().contains(QStringLiteral("flite")))
            QSKIP("the flite speech engine is not installed");
        const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native");
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") && !QFileInfo::exists(socket))
            QSKIP("no sound server runs (./test starts a silent one)");
    }

    void speaksQueuedCallsInOrderWhileTheLoopRuns()
    {
        test::TempSettings settings;
        auto* engine = new QtSpeechEngine(QStringLiteral("flite"));
        QTextToSpeech* tts = engine->tts();
        Announcer announcer(settings.store, std::unique_ptr<SpeechEngine>(engine));
        QString why;
        QVERIFY2(announcer.addVoice(&why), qPrintable(why));
        QVERIFY(!announcer.voices().isEmpty());

        QStringList events;
        connect(&announcer, &Announcer::started, this, [&](const QString& t) { events << QStringLiteral("start ") + t; });
        connect(&announcer, &Announcer::finished, this, [&](const QString& t) { events << QStringLiteral("end ") + t; });
        int speakingStates = 0;
        connect(tts, &QTextToSpeech::stateChanged, this, [&](QTextToSpeech::State s) {
            if (s == QTextToSpeech::Speaking)
                ++speakingStates;
        });

        // The display's timers must keep running while speech plays.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        ticker.start();

        QElapsedTimer call;
        call.start();
        announcer.speekNo(QStringLiteral("A1"), QStringLiteral("Counter 1"));
        announcer.speekNo(QStringLiteral("B2"), QStringLiteral("Counter 2"));
        QVERIFY(call.elapsed() < 100);

        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 4, 60000);
        const QString first = QStringLiteral("Tocken number A1 please move to the  ,Counter 1");
        const QString second = QStringLiteral("Tocken number B2 please move to the  ,Counter 2");
        QCOMPARE(events, (QStringList{QStringLiteral("start ") + first, QStringLiteral("end ") + first,
                                      QStringLiteral("start ") + second, QStringLiteral("end ") + second}));
        QCOMPARE(speakingStates, 2);
        QCOMPARE(tts->state(), QTextToSpeech::Ready);
        QVERIFY2(longestGap < 250, qPrintable(QStringLiteral("timer stalled %1 ms").arg(longestGap)));
    }
};

TALLYVO_TEST_MAIN(tst_speech)
#include "tst_speech.moc"
