#pragma once

namespace tallyvo {

class Database;

// A small site to try the program on: two departments, three services, three counters with
// logins, two display themes with their regions, a news message, and a playlist of three pictures
// shipped in the program's demo/ folder. Nothing is added to a
// database that already has departments.
namespace DemoSite {

// Counter logins of the demo: counter1/1111, counter2/2222, counter3/3333.
bool create(const Database& db);

} // namespace DemoSite
} // namespace tallyvo
