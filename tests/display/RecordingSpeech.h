#pragma once

#include "display/SpeechEngine.h"

#include <QList>
#include <QTimer>

namespace tallyvo::test {

// A speech engine that speaks nothing and remembers what it was given. It reports each text
// finished on the next turn of the event loop, or only when told (finishNow) when autoFinish is
// off, as a long or stuck announcement would.
class RecordingSpeech final : public SpeechEngine {
public:
    QString error() const override { return failure; }
    QStringList voices() const override { return voiceList; }
    bool setVoice(int index) override
    {
        if (index < 0 || index >= voiceList.size())
            return false;
        voice = index;
        return true;
    }
    bool setRate(double r) override
    {
        rates << r;
        return true;
    }
    void say(const QString& text) override
    {
        said << text;
        if (autoFinish)
            QTimer::singleShot(0, this, [this] { emit finished(); });
    }
    void finishNow() { emit finished(); }

    QString failure;
    QStringList voiceList;
    bool autoFinish = true;
    QStringList said;
    QList<double> rates;
    int voice = -1;
};

} // namespace tallyvo::test
