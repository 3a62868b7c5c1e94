#include "RecordingSpeech.h"
#include "TestSupport.h"

#include "display/Announcer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

class tst_announcer : public QObject {
    Q_OBJECT

private:
    struct Rig {
        test::TempSettings settings;
        test::RecordingSpeech* speech = new test::RecordingSpeech;
        std::unique_ptr<Announcer> announcer;
        void build() { announcer = std::make_unique<Announcer>(settings.store, std::unique_ptr<SpeechEngine>(speech)); }
    };

private slots:
    void text_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("counter");
        QTest::addColumn<QString>("expected");
        // Two blanks before the comma and none after, as the stored default has them.
        QTest::newRow("default") << QStringLiteral("Tocken number * please move to the  ,#") << QStringLiteral("A12")
                                 << QStringLiteral("Counter 3")
                                 << QStringLiteral("Tocken number A12 please move to the  ,Counter 3");
        QTest::newRow("no marks") << QStringLiteral("Please wait") << QStringLiteral("A1") << QStringLiteral("C")
                                  << QStringLiteral("Please wait");
        QTest::newRow("two stars") << QStringLiteral("* again * to #") << QStringLiteral("B4")
                                   << QStringLiteral("Room 2") << QStringLiteral("B4 again B4 to Room 2");
        QTest::newRow("hash in label") << QStringLiteral("* to #") << QStringLiteral("A#1") << QStringLiteral("Desk")
                                       << QStringLiteral("ADesk1 to Desk");
        QTest::newRow("star in counter") << QStringLiteral("* to #") << QStringLiteral("A1")
                                         << QStringLiteral("Desk *") << QStringLiteral("A1 to Desk *");
        QTest::newRow("empty") << QString() << QStringLiteral("A1") << QStringLiteral("Desk") << QString();
    }

    void text()
    {
        QFETCH(QString, format);
        QFETCH(QString, label);
        QFETCH(QString, counter);
        QFETCH(QString, expected);
        QCOMPARE(Announcer::announcementText(format, label, counter), expected);
    }

    // The stored template is used; the default only when nothing is stored, so an empty one
    // means silence (and the queue still moves on).
    void templateFromSettings()
    {
        Rig rig;
        rig.build();
        QCOMPARE(rig.announcer->textFor(QStringLiteral("A12"), QStringLiteral("Counter 3")),
                 QStringLiteral("Tocken number A12 please move to the  ,Counter 3"));

        rig.settings.store.set(Keys::VoiceFormat, QString());
        rig.announcer->speekNo(QStringLiteral("A1"), QStringLiteral("Desk"));
        rig.settings.store.set(Keys::VoiceFormat, QStringLiteral("Next * at #"));
        rig.announcer->speekNo(QStringLiteral("A2"), QStringLiteral("Desk"));
        QTRY_COMPARE(rig.speech->said, QStringList{QStringLiteral("Next A2 at Desk")});
    }

    // speekNo returns at once; texts are spoken one after the other, each only after the
    // previous one has finished.
    void queuedInOrderWithoutBlocking()
    {
        Rig rig;
        rig.build();
        rig.speech->autoFinish = false;
        rig.settings.store.set(Keys::VoiceFormat, QStringLiteral("*"));
        QSignalSpy finished(rig.announcer.get(), &Announcer::finished);

        QElapsedTimer t;
        t.start();
        for (const char* label : {"A1", "A2", "A3"})
            rig.announcer->speekNo(QLatin1String(label), QStringLiteral("Desk"));
        QVERIFY(t.elapsed() < 50);
        QCOMPARE(rig.speech->said, QStringList{QStringLiteral("A1")});
        QCOMPARE(rig.announcer->pending(), 3);

        // The event loop runs freely while A1 is being spoken: nothing else starts.
        QTest::qWait(50);
        QCOMPARE(rig.speech->said.size(), 1);

        rig.speech->finishNow();
        QTRY_COMPARE(rig.speech->said, (QStringList{QStringLiteral("A1"), QStringLiteral("A2")}));
        rig.announcer->speekNo(QStringLiteral("A4"), QStringLiteral("Desk"));
        rig.speech->finishNow();
        QTRY_COMPARE(rig.speech->said.size(), 3);
        rig.speech->finishNow();
        QTRY_COMPARE(rig.speech->said.size(), 4);
        QCOMPARE(rig.speech->said.last(), QStringLiteral("A4"));
        rig.speech->finishNow();
        QTRY_COMPARE(finished.size(), 4);
        QCOMPARE(rig.announcer->pending(), 0);
        QVERIFY(!rig.announcer->isSpeaking());
    }

    // An engine that never reports the end does not silence every later call.
    void stuckEngineDoesNotHoldTheQueue()
    {
        Rig rig;
        rig.build();
        rig.speech->autoFinish = false;
        rig.announcer->setTimeLimit(100, 0);
        rig.announcer->speekNo(QStringLiteral("A1"), QStringLiteral("Desk"));
        rig.announcer->speekNo(QStringLiteral("A2"), QStringLiteral("Desk"));
        QTest::qWait(30);
        QCOMPARE(rig.speech->said.size(), 1);
        QTRY_COMPARE(rig.speech->said.size(), 2);
    }

    void voiceAndRate()
    {
        Rig rig;
        rig.speech->voiceList = {QStringLiteral("kal"), QStringLiteral("awb")};
        rig.settings.store.set(Keys::VoiceName, QStringLiteral("1"));
        rig.settings.store.set(Keys::VoiceSpeed, QStringLiteral("-10"));
        rig.build();
        QVERIFY(rig.announcer->addVoice());
        QCOMPARE(rig.announcer->voices(), rig.speech->voiceList);
        QCOMPARE(rig.announcer->voiceIndex(), 1);

        rig.announcer->readRate();
        rig.announcer->speekNo(QStringLiteral("A1"), QStringLiteral("Desk"));
        QTRY_COMPARE(rig.speech->said.size(), 1);
        QCOMPARE(rig.speech->voice, 1);
        QCOMPARE(rig.speech->rates, QList<double>{-1.0});

        rig.settings.store.set(Keys::VoiceSpeed, QStringLiteral("5"));
        rig.announcer->readRate();
        rig.announcer->speekNo(QStringLiteral("A2"), QStringLiteral("Desk"));
        QTRY_COMPARE(rig.speech->said.size(), 2);
        QCOMPARE(rig.speech->rates.last(), 0.5);

        // A rate the engine's scale does not have is not applied, an index beyond the list
        // leaves the voice alone: the call is still spoken.
        rig.speech->voice = -1;
        rig.announcer->setRate(15);
        rig.announcer->setVoiceIndex(7);
        rig.announcer->speekNo(QStringLiteral("A3"), QStringLiteral("Desk"));
        QTRY_COMPARE(rig.speech->said.size(), 3);
        QCOMPARE(rig.speech->rates.size(), 2);
        QCOMPARE(rig.speech->voice, -1);
    }

    void noEngineOrNoVoices()
    {
        test::TempSettings settings;
        Announcer none(settings.store, nullptr);
        QString why;
        QVERIFY(!none.addVoice(&why));
        QVERIFY(!why.isEmpty());
        QVERIFY(none.voices().isEmpty());
        none.speekNo(QStringLiteral("A1"), QStringLiteral("Desk"));
        QCOMPARE(none.pending(), 0);

        Rig broken;
        broken.speech->failure = QStringLiteral("speech service not running");
        broken.build();
        QVERIFY(!broken.announcer->addVoice(&why));
        QCOMPARE(why, QStringLiteral("speech service not running"));

        Rig voiceless;
        voiceless.build();
        QVERIFY(voiceless.announcer->addVoice());
        QVERIFY(voiceless.announcer->voices().isEmpty());
        voiceless.announcer->speekNo(QStringLiteral("A1"), QStringLiteral("Desk"));
        QTRY_COMPARE(voiceless.speech->said.size(), 1);
    }
};

TALLYVO_TEST_MAIN(tst_announcer)
#include "tst_announcer.moc"
