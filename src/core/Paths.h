#pragma once

#include <QString>
#include <QStringList>

namespace tallyvo {

class Prompt;

namespace Paths {

// The folder of the running program.
QString programDir();
// Where a data file (ding.wav, design/01.jpg, files/clock/...) is: beside the program in a build
// tree, else in the installed share folder (/usr/share/tallyvo for /usr/bin/tallyvo), else in a
// tallyvo folder of the system's data folders (XDG_DATA_DIRS). When none has it, the path beside
// the program, so a message names where it was looked for first.
QString dataFile(const QString& relative);
QString dataFile(const QString& relative, const QStringList& folders);
// The folders dataFile() looks in, in order.
QStringList dataFolders();

// path.txt names the database file that backup copies. It lives in the station's settings
// folder (~/.config/tallyvo, or its profiles/NAME), which its user can write and a site
// administrator can find, never beside an installed program.
QString dbPathFile(const QString& settingsFolder);
// The database file that backup copies: the last line of path.txt in `folder`.
// A file that cannot be read is reported through prompt and gives "".
QString getDbPath(const QString& folder, Prompt& prompt);
// Makes path.txt in the settings folder name `dbFile`, the embedded database the station has
// just opened, so the two always agree; left alone when it already does. False when it cannot
// be written.
bool recordDbPath(const QString& settingsFolder, const QString& dbFile);

} // namespace Paths
} // namespace tallyvo
