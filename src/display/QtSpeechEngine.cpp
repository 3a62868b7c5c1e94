#include "display/QtSpeechEngine.h"

#include <QTextToSpeech>
#include <QTimer>

namespace tallyvo {

QtSpeechEngine::QtSpeechEngine(const QString& engineName, QObject* parent)
    : SpeechEngine(parent)
    , m_tts(new QTextToSpeech(engineName, this))
{
    connect(m_tts, &QTextToSpeech::stateChanged, this,
            [this](QTextToSpeech::State state) { onStateChanged(static_cast<int>(state)); });
}

QtSpeechEngine::~QtSpeechEngine() = default;

QString QtSpeechEngine::error() const
{
    if (m_tts->engine().isEmpty() && QTextToSpeech::availableEngines().isEmpty())
        return tr("No speech engine is installed.");
    if (m_tts->state() == QTextToSpeech::Error && m_tts->errorReason() == QTextToSpeech::ErrorReason::Initialization)
        return m_tts->errorString().isEmpty() ? tr("The speech engine cannot be started.") : m_tts->errorString();
    return QString();
}

QStringList QtSpeechEngine::voices() const
{
    m_voices = m_tts->availableVoices();
    QStringList names;
    for (const QVoice& v : std::as_const(m_voices))
        names << v.name();
    return names;
}

bool QtSpeechEngine::setVoice(int index)
{
    if (m_voices.isEmpty())
        voices();
    if (index < 0 || index >= m_voices.size())
        return false;
    if (!(m_tts->voice() == m_voices.at(index)))
        m_tts->setVoice(m_voices.at(index));
    return true;
}

bool QtSpeechEngine::setRate(double rate)
{
    if (rate < -1.0 || rate > 1.0)
        return false;
    m_tts->setRate(rate);
    return true;
}

void QtSpeechEngine::say(const QString& text)
{
    m_waiting = true;
    m_started = false;
    m_tts->say(text);
    // An engine already in its error state may not announce anything for this text.
    QTimer::singleShot(0, this, &QtSpeechEngine::settle);
}

void QtSpeechEngine::settle()
{
    if (m_waiting && !m_started && m_tts->state() == QTextToSpeech::Error) {
        m_waiting = false;
        emit finished();
    }
}

void QtSpeechEngine::onStateChanged(int state)
{
    if (!m_waiting)
        return;
    switch (static_cast<QTextToSpeech::State>(state)) {
    case QTextToSpeech::Speaking:
        m_started = true;
        break;
    case QTextToSpeech::Ready:
    case QTextToSpeech::Error:
        m_waiting = false;
        emit finished();
        break;
    case QTextToSpeech::Paused:
        break;
    }
}

} // namespace tallyvo
