#pragma once

#include "display/SpeechEngine.h"

#include <QList>
#include <QVoice>

class QTextToSpeech;

namespace tallyvo {

// The platform's speech synthesis through QTextToSpeech (speech-dispatcher or flite on Linux).
class QtSpeechEngine final : public SpeechEngine {
    Q_OBJECT
public:
    // An empty name takes Qt's default engine.
    explicit QtSpeechEngine(const QString& engineName = QString(), QObject* parent = nullptr);
    ~QtSpeechEngine() override;

    QString error() const override;
    QStringList voices() const override;
    bool setVoice(int index) override;
    bool setRate(double rate) override;
    void say(const QString& text) override;

    QTextToSpeech* tts() const { return m_tts; }

private:
    void onStateChanged(int state);
    void settle();

    QTextToSpeech* m_tts;
    mutable QList<QVoice> m_voices;
    bool m_waiting = false; // a say() whose end has not been reported yet
    bool m_started = false; // ... and the engine has begun speaking it
};

} // namespace tallyvo
