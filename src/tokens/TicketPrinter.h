#pragma once

#include <QString>

#include <optional>

namespace tallyvo {

// What one paper ticket carries about its token.
struct TicketData {
    QString label;       // the token label, e.g. "A7"
    int serviceKey = 0;  // servAuto
    QString serviceName; // ServName, as the visitor chose it
    QString serviceDesc; // servdesc, printed under the token
    // The token's key on the site's web station, for the QR code that opens its page on a
    // visitor's phone; "" prints no code. Whoever issues the token fills it.
    QString webKey;
    // The expected wait, printed as "About N min"; nullopt when there is nothing to go on.
    std::optional<int> estimateMinutes;
};

// Where issued tickets go. The ticket window prints on paper; tallyvoctl prints nothing; tests
// record the calls. Called only after the token is stored, once per copy.
class TicketPrinter {
public:
    virtual ~TicketPrinter() = default;

    // Prints one copy as its own job. Returns false (or throws std::exception) when the printer
    // refuses it; lastError() then says why.
    virtual bool startPrint(const TicketData& ticket) = 0;
    virtual QString lastError() const { return QString(); }
};

// Stores tokens without printing them: stations and scripts that hand out numbers some other way.
class NoTicketPrinter final : public TicketPrinter {
public:
    bool startPrint(const TicketData&) override { return true; }
};

} // namespace tallyvo
