#include "display/Announcer.h"

#include "core/SettingsStore.h"
#include "display/SpeechEngine.h"

#include <QTimer>

namespace tallyvo {

Announcer::Announcer(SettingsStore& settings, std::unique_ptr<SpeechEngine> engine, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_engine(std::move(engine))
    , m_limit(new QTimer(this))
{
    m_voiceIndex = m_settings.getInt(Keys::VoiceName);
    m_limit->setSingleShot(true);
    connect(m_limit, &QTimer::timeout, this, &Announcer::onEngineFinished);
    if (m_engine)
        connect(m_engine.get(), &SpeechEngine::finished, this, &Announcer::onEngineFinished);
}

Announcer::~Announcer()
{
    // The engine goes first so that its last signals find this object whole.
    m_engine.reset();
}

bool Announcer::addVoice(QString* error)
{
    m_voices.clear();
    const QString why = m_engine ? m_engine->error() : tr("No speech engine is installed.");
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    m_voices = m_engine->voices();
    return true;
}

void Announcer::readRate()
{
    m_rate = m_settings.getInt(Keys::VoiceSpeed);
}

QString Announcer::announcementText(const QString& format, const QString& label, const QString& counter)
{
    QString text = format;
    text.replace(QLatin1Char('*'), label);
    text.replace(QLatin1Char('#'), counter);
    return text;
}

QString Announcer::textFor(const QString& label, const QString& counter) const
{
    return announcementText(m_settings.get(Keys::VoiceFormat), label, counter);
}

void Announcer::speekNo(const QString& label, const QString& counter)
{
    m_queue.enqueue(textFor(label, counter));
    if (!m_speaking)
        next();
}

void Announcer::setTimeLimit(int baseMs, int perCharMs)
{
    m_limitBaseMs = baseMs;
    m_limitPerCharMs = perCharMs;
}

void Announcer::next()
{
    while (!m_speaking && !m_queue.isEmpty()) {
        const QString text = m_queue.dequeue();
        // An empty template makes an announcement with nothing to hear.
        if (!m_engine || text.trimmed().isEmpty())
            continue;
        // The voice and rate may have been changed since the last call; a voice or rate the
        // engine does not have leaves its current one.
        m_engine->setVoice(m_voiceIndex);
        if (m_rate >= -10 && m_rate <= 10)
            m_engine->setRate(m_rate / 10.0);
        m_speaking = true;
        m_current = text;
        m_limit->start(m_limitBaseMs + m_limitPerCharMs * static_cast<int>(text.size()));
        emit started(text);
        m_engine->say(text);
    }
}

void Announcer::onEngineFinished()
{
    if (!m_speaking)
        return;
    m_limit->stop();
    m_speaking = false;
    const QString done = m_current;
    m_current.clear();
    emit finished(done);
    // Not from inside the engine's own signal: an engine that reports the end synchronously
    // would otherwise recurse through the whole queue.
    if (!m_nextQueued) {
        m_nextQueued = true;
        QMetaObject::invokeMethod(this, [this] {
            m_nextQueued = false;
            next();
        }, Qt::QueuedConnection);
    }
}

} // namespace tallyvo
