#pragma once

#include "secret.h"
#include "whmresult.h"

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class WhmAnswerReader;

// One WHM API 1 call: the function, its parameters (in order) and the login that the
// desktop program sent along with the request.
struct WhmRequest {
    std::string host;
    std::string user;
    Secret key; // an API token or a remote access key
    std::string function;
    // Values are kept as secrets: a password travels among them.
    std::vector<std::pair<std::string, Secret>> params;
    // The whole call, from the first connection attempt to the answer's last byte.
    std::chrono::steady_clock::duration timeout = std::chrono::seconds(50);
};

// Lists may be read again; commands reach WHM at most once.
enum class WhmCallKind { List, Command };

// What a WHM client holds now, for the metrics.
struct WhmUsage {
    std::size_t connectionsOpen = 0;
    std::size_t connectionsIdle = 0;
    std::size_t callsInFlight = 0;
    std::uint64_t bytesInFlight = 0;
};

// A WHM server as the gateway sees it. The real one is reached over HTTPS; the demo
// simulates one in memory. Calls wait asynchronously: a slow WHM holds no thread. Both
// calls honour terminal cancellation of the awaiting coroutine, and never throw: every
// failure becomes an outcome with a reason a person can act on.
class WhmApi {
public:
    virtual ~WhmApi() = default;

    // An account command (createacct, suspendacct, unsuspendacct, removeacct).
    boost::asio::awaitable<WhmOutcome> call(const WhmRequest& request);

    // A list: the names data[arrayKey][i][nameKey], read as the answer arrives.
    boost::asio::awaitable<WhmList> callList(const WhmRequest& request, std::string_view arrayKey,
                                             std::string_view nameKey);

    virtual WhmUsage usage() const { return {}; }
    // Reads again what it trusts (a CA file): new connections use it. Empty when done, or
    // why not, the old trust staying in use.
    virtual std::string reloadTrust() { return {}; }

protected:
    // Carries the request to WHM, with authorization as its Authorization header, and
    // hands WHM's answer to reader as it arrives. Throws WhmError when no complete answer
    // was read.
    virtual boost::asio::awaitable<void> send(const WhmRequest& request,
                                              std::string_view authorization, WhmCallKind kind,
                                              WhmAnswerReader& reader) = 0;
};

// The Authorization header for a login, or why the login cannot be sent. A key of at most
// 64 characters once its line breaks are gone is an API token ("whm USER:TOKEN"); a longer
// one is a remote access key ("WHM USER:HASH", its line breaks removed), as WHM's
// documentation writes them. A control character in the user name, or in the key other
// than its line breaks, would end up in the header: such a login is refused.
struct WhmAuthorization {
    Secret header;
    std::string refusal;
};
WhmAuthorization whmAuthorization(std::string_view user, std::string_view key);

// The key as WHM reads it: one line, no CR or LF.
Secret whmKeyWithoutLineBreaks(std::string_view key);
