#pragma once

#include <QString>

namespace tallyvo {

class Prompt;

namespace Paths {

// The folder of the running program; the data files (ding.wav, design/, files/clock/) and
// path.txt live beside it.
QString programDir();
QString dataFile(const QString& relative);

// Creates the folder and any missing folders above it, each readable by its owner only (0700);
// folders that exist keep their mode. True when the folder is there afterwards.
bool makeOwnerFolders(const QString& folder);

// The database file that backup copies: the last line of path.txt in the program's folder.
// A file that cannot be read is reported through prompt and gives "".
QString getDbPath(const QString& programDir, Prompt& prompt);

} // namespace Paths
} // namespace tallyvo
