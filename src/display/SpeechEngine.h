#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace tallyvo {

// What the announcer needs from a speech synthesiser. The program uses QtSpeechEngine; tests put
// in one that records what it was given.
class SpeechEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Why this engine cannot speak at all ("" when it can).
    virtual QString error() const = 0;
    // The installed voices' descriptions, in the engine's order.
    virtual QStringList voices() const = 0;
    // False when there is no voice at that index; the current voice stays.
    virtual bool setVoice(int index) = 0;
    // -1 slowest .. 0 normal .. 1 fastest. False when the engine refuses it.
    virtual bool setRate(double rate) = 0;
    // Starts speaking and returns at once; finished() follows when the text has been spoken or
    // the engine gave up on it.
    virtual void say(const QString& text) = 0;

signals:
    void finished();
};

} // namespace tallyvo
