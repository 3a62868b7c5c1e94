#pragma once

#include "display/SpeechEngine.h"

#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <memory>

class QTimer;

namespace tallyvo {

class SettingsStore;

// Speaks the calls: one speech engine and its voice list for the whole run, owned by the main
// window and handed to every display it starts.
//
// speekNo() never waits: the text is queued and the call returns at once. Texts are spoken one
// after the other in the order given; the next starts only when the engine reports the previous
// one finished, or when it has taken far longer than any spoken call could, so an engine that
// hangs cannot silence the display for good.
class Announcer : public QObject {
    Q_OBJECT
public:
    // engine may be null (no speech on this station): announcements are then silent.
    // The voice index starts as setting Voice/Name.
    Announcer(SettingsStore& settings, std::unique_ptr<SpeechEngine> engine, QObject* parent = nullptr);
    ~Announcer() override;

    // Fills the voice list from the engine. False with the reason when there is no working
    // engine; the list is then empty and every announcement silent.
    bool addVoice(QString* error = nullptr);
    QStringList voices() const { return m_voices; }

    // The voice of every announcement, as an index into voices(); one beyond the list leaves
    // the engine's default voice.
    int voiceIndex() const { return m_voiceIndex; }
    void setVoiceIndex(int index) { m_voiceIndex = index; }

    // The rate on the engine's -10 (slowest) .. 10 (fastest) scale. readRate() takes it from
    // setting Voice/Speed; the display does so each time it starts.
    int rate() const { return m_rate; }
    void setRate(int rate) { m_rate = rate; }
    void readRate();

    // The template with every '*' replaced by the label, then every '#' by the counter (so a
    // '#' inside the label is replaced too, a '*' inside the counter name is not).
    static QString announcementText(const QString& format, const QString& label, const QString& counter);
    // The same with the template of setting Voice/format.
    QString textFor(const QString& label, const QString& counter) const;

    // Queues the announcement of a call; returns at once.
    void speekNo(const QString& label, const QString& counter);

    // Announcements given and not yet finished, the one being spoken included.
    int pending() const { return m_queue.size() + (m_speaking ? 1 : 0); }
    bool isSpeaking() const { return m_speaking; }

    // The longest an announcement may take before the next one goes ahead regardless:
    // baseMs + perCharMs for every character of its text.
    void setTimeLimit(int baseMs, int perCharMs);

signals:
    void started(const QString& text);
    void finished(const QString& text);

private:
    void next();
    void onEngineFinished();

    SettingsStore& m_settings;
    std::unique_ptr<SpeechEngine> m_engine;
    QStringList m_voices;
    int m_voiceIndex = 0;
    int m_rate = 0;
    QQueue<QString> m_queue;
    bool m_speaking = false;
    bool m_nextQueued = false;
    QString m_current;
    QTimer* m_limit;
    int m_limitBaseMs = 10000;
    int m_limitPerCharMs = 250;
};

} // namespace tallyvo
