#pragma once

#include <functional>
#include <memory>

namespace tallyvo {

class Clock;
class Connection;
class Prompt;
class SettingsStore;
class SpeechEngine;
struct Session;

// The services the program builds once at start-up and hands to the main window, which passes
// them on to every window it opens.
struct ShellServices {
    SettingsStore& settings;
    Session& session;
    Connection& connection;
    Prompt& prompt;
    const Clock& clock;
    // Makes a speech engine: one for the announcements, one for each settings window. May give
    // null when the station has none.
    std::function<std::unique_ptr<SpeechEngine>()> speech;
};

} // namespace tallyvo
