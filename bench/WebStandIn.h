#pragma once

#include <QString>

namespace tallyvo::bench {

// A stand-in for the web station with the same command line and routes (the page, its event
// stream, the ticket API), built on the station's HTTP server and watching the database by
// polling. It lets the bench's client side be tried before, and compared with, the station.
// Serves until the process is ended; returns the exit code.
int runWebStandIn(const QString& dbUrl, const QString& listen);

} // namespace tallyvo::bench
