#pragma once

#include "core/DbUrl.h"

#include <QStringList>
#include <optional>

namespace tallyvo {

// The options every program of the suite takes: --profile NAME (a separate set of settings
// files, so several stations run on one machine) and --db URL (the database for this run only).
struct StartOptions {
    QString profile;
    std::optional<DbUrl> db;
    QStringList rest; // everything else, in order

    // Parses args (without the program name). On a malformed option returns nullopt and says why.
    static std::optional<StartOptions> parse(const QStringList& args, QString* error);
};

} // namespace tallyvo
