#include "shell/SpeechPool.h"

namespace tallyvo {

// What a window holds: the pooled engine, given back when the window is done with it.
class LentSpeech final : public SpeechEngine {
public:
    LentSpeech(SpeechPool& pool, SpeechEngine* engine, std::shared_ptr<bool> poolAlive)
        : m_pool(pool)
        , m_engine(engine)
        , m_poolAlive(std::move(poolAlive))
    {
        connect(m_engine, &SpeechEngine::finished, this, &SpeechEngine::finished);
    }
    ~LentSpeech() override
    {
        disconnect(m_engine, nullptr, this, nullptr);
        if (*m_poolAlive)
            m_pool.giveBack(m_engine);
    }

    QString error() const override { return m_engine->error(); }
    QStringList voices() const override { return m_engine->voices(); }
    bool setVoice(int index) override { return m_engine->setVoice(index); }
    bool setRate(double rate) override { return m_engine->setRate(rate); }
    void say(const QString& text) override { m_engine->say(text); }

private:
    SpeechPool& m_pool;
    SpeechEngine* m_engine;
    std::shared_ptr<bool> m_poolAlive;
};

SpeechPool::SpeechPool(Maker make)
    : m_make(std::move(make))
    , m_alive(std::make_shared<bool>(true))
{
}

SpeechPool::~SpeechPool()
{
    *m_alive = false;
}

std::unique_ptr<SpeechEngine> SpeechPool::take()
{
    SpeechEngine* engine = nullptr;
    if (!m_idle.isEmpty()) {
        engine = m_idle.takeLast();
    } else {
        std::unique_ptr<SpeechEngine> made = m_make ? m_make() : nullptr;
        if (!made)
            return nullptr;
        engine = made.get();
        m_all.push_back(std::move(made));
    }
    return std::make_unique<LentSpeech>(*this, engine, m_alive);
}

void SpeechPool::giveBack(SpeechEngine* engine)
{
    m_idle << engine;
}

std::function<std::unique_ptr<SpeechEngine>()> SpeechPool::factory(Maker make)
{
    auto pool = std::make_shared<SpeechPool>(std::move(make));
    return [pool] { return pool->take(); };
}

} // namespace tallyvo
