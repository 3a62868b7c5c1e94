#pragma once

#include "TestSupport.h"
#include "display/RecordingSpeech.h"

#include "core/Connection.h"
#include "core/DemoSite.h"
#include "core/Session.h"
#include "shell/ShellServices.h"

namespace tallyvo::test {

// One station of the program against a fresh database with the demo site (themes "Black H" and
// "HR1", counters "Counter 1" .. "Counter 3"). Every speech engine the station makes is a
// RecordingSpeech with two voices, kept in `engines` in the order made.
struct ShellStation {
    TempDatabase temp;
    TempSettings settings;
    Session session;
    FakeClock clock{QDate::currentDate(), QTime(10, 0, 0)};
    ScriptedPrompt prompt;
    Connection connection{settings.store, session};
    QList<RecordingSpeech*> engines;
    QString speechFailure;

    explicit ShellStation(bool demo = true)
    {
        connection.setOverride(temp.url());
        if (demo)
            DemoSite::create(temp.db());
    }

    ShellServices services()
    {
        return ShellServices{settings.store, session, connection, prompt, clock, [this] {
                                 auto engine = std::make_unique<RecordingSpeech>();
                                 engine->voiceList = {QStringLiteral("Alice"), QStringLiteral("Bob")};
                                 engine->failure = speechFailure;
                                 engines << engine.get();
                                 return std::unique_ptr<SpeechEngine>(std::move(engine));
                             }};
    }

    QString get(const SettingKey& k) const { return settings.store.get(k); }
    bool has(const SettingKey& k) const { return settings.store.contains(k); }
};

} // namespace tallyvo::test
