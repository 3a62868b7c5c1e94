#pragma once

#include "display/SpeechEngine.h"

#include <QList>
#include <functional>
#include <memory>
#include <vector>

namespace tallyvo {

// Hands out speech engines whose platform engine is never destroyed before the program ends:
// Qt 6.4's flite engine crashes the next time any other instance speaks once one instance has
// been destroyed. An engine given back (its window closed) is lent again to the next window that
// asks, so windows opened many times do not pile engines up.
class SpeechPool {
public:
    using Maker = std::function<std::unique_ptr<SpeechEngine>()>;

    explicit SpeechPool(Maker make);
    ~SpeechPool();

    // Null when make gives null.
    std::unique_ptr<SpeechEngine> take();
    int size() const { return int(m_all.size()); }
    int idle() const { return int(m_idle.size()); }

    // A factory for ShellServices::speech that lends engines from one pool.
    static std::function<std::unique_ptr<SpeechEngine>()> factory(Maker make);

private:
    friend class LentSpeech;
    void giveBack(SpeechEngine* engine);

    Maker m_make;
    std::vector<std::unique_ptr<SpeechEngine>> m_all;
    QList<SpeechEngine*> m_idle;
    std::shared_ptr<bool> m_alive;
};

} // namespace tallyvo
