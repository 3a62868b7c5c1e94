#pragma once

#include <QString>

namespace tallyvo {

// Files written whole or not at all: the work goes into a new file of the owner's alone beside
// the target, under a name no other run can be using, and takes the target's name only once it
// is complete. Nothing that the run did not create is ever removed.
namespace SafeFile {

// A new, empty file in folder that only its owner may read, named after name
// (".data.mdb.Ab12Cd.part"); "" with the reason in *why.
QString createTemp(const QString& folder, const QString& name, QString* why);

// Gives the complete file temp the name target, replacing a file of that name in one step. The
// file's data is on the disk before it takes the name.
bool replace(const QString& temp, const QString& target, QString* why);

// Gives the complete file temp the name target only while nothing has that name, links included.
enum class Claim { Done, Taken, Failed };
Claim claim(const QString& temp, const QString& target, QString* why);

// Gives the complete file temp the name target, or when that is taken the first free one of
// "base-2.suffix", "base-3.suffix", ...: never replaces anything. The name given; "" with why.
QString publishNew(const QString& temp, const QString& target, QString* why);

// Whether path is a regular file (after following links); otherwise why not in *why.
bool isRegularFile(const QString& path, QString* why);

} // namespace SafeFile
} // namespace tallyvo
