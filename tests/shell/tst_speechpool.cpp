#include "TestSupport.h"
#include "display/RecordingSpeech.h"
#include "shell/SpeechPool.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

class tst_speechpool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void enginesOutliveTheirWindowsAndAreLentAgain();
};

void tst_speechpool::enginesOutliveTheirWindowsAndAreLentAgain()
{
    QList<QPointer<test::RecordingSpeech>> made;
    SpeechPool pool([&made] {
        auto engine = std::make_unique<test::RecordingSpeech>();
        engine->voiceList = {QStringLiteral("Alice"), QStringLiteral("Bob")};
        made << engine.get();
        return std::unique_ptr<SpeechEngine>(std::move(engine));
    });
    std::unique_ptr<SpeechEngine> announcer = pool.take();
    std::unique_ptr<SpeechEngine> settings = pool.take();
    QCOMPARE(pool.size(), 2);

    // Calls and the end of speech pass through.
    settings->setVoice(1);
    QSignalSpy done(settings.get(), &SpeechEngine::finished);
    settings->say(QStringLiteral("test"));
    QCOMPARE(made.at(1)->said, QStringList{QStringLiteral("test")});
    QCOMPARE(made.at(1)->voice, 1);
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(settings->voices().size(), 2);

    // A closed window's engine stays alive and goes to the next window.
    settings.reset();
    QVERIFY(made.at(1));
    QCOMPARE(pool.idle(), 1);
    std::unique_ptr<SpeechEngine> again = pool.take();
    QCOMPARE(pool.size(), 2);
    QCOMPARE(pool.idle(), 0);
    QSignalSpy againDone(again.get(), &SpeechEngine::finished);
    QSignalSpy announcerDone(announcer.get(), &SpeechEngine::finished);
    again->say(QStringLiteral("second"));
    QCOMPARE(made.at(1)->said.size(), 2);
    QTRY_COMPARE(againDone.size(), 1);
    QCOMPARE(announcerDone.size(), 0); // each window hears only its own engine
    QVERIFY(made.at(0)->said.isEmpty());
}

TALLYVO_TEST_MAIN(tst_speechpool)
#include "tst_speechpool.moc"
