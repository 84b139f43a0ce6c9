#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <stdexcept>
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
    std::string key; // an API token or a remote access key
    std::string function;
    std::vector<std::pair<std::string, std::string>> params;
    // The whole call, from the first connection attempt to the answer's last byte.
    std::chrono::steady_clock::duration timeout = std::chrono::seconds(50);
};

// What became of a call.
enum class WhmResult {
    Done,     // WHM did it
    Refused,  // WHM said no, or the call failed before its request went out
    NotKnown, // the request went out but no complete, readable answer came back
    Busy,     // the calls in flight hold the gateway's whole budget: not attempted (or, for a
              // list, stopped where its names would pass it)
};

// A command's outcome, with WHM's own words for it (or why it failed), cut short.
struct WhmOutcome {
    WhmResult result = WhmResult::Refused;
    std::string reason;

    bool done() const { return result == WhmResult::Done; }
};

// A list call's outcome. When ok, body is ready to send: the names in WHM's order joined
// by the marker <BR>, none after the last. A name holding the marker would split into
// entries that do not exist: it is left out and counted, and the first one kept, cut
// short, for the log. When not ok, reason says why (cut short) and there are no names.
struct WhmList {
    enum class Status { Ok, Failed, Busy };
    Status status = Status::Failed;
    std::string reason;
    std::string body;
    std::size_t names = 0;
    std::size_t leftOut = 0;
    std::string leftOutExample;

    bool ok() const { return status == Status::Ok; }
};

// A call that ended without a verdict from WHM: result says whether its request went out,
// or that the budget stopped it.
class WhmError : public std::runtime_error {
public:
    WhmError(WhmResult result, const std::string& reason)
        : std::runtime_error(reason), m_result(result) {}
    WhmResult result() const { return m_result; }

private:
    WhmResult m_result;
};

// Lists may be read again; commands reach WHM at most once.
enum class WhmCallKind { List, Command };

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

protected:
    // Carries the request to WHM, with authorization as its Authorization header, and
    // hands WHM's answer to reader as it arrives. Throws WhmError when no complete answer
    // was read.
    virtual boost::asio::awaitable<void> send(const WhmRequest& request,
                                              const std::string& authorization, WhmCallKind kind,
                                              WhmAnswerReader& reader) = 0;
};

// The Authorization header for a login, or why the login cannot be sent. A key of at most
// 64 characters once its line breaks are gone is an API token ("whm USER:TOKEN"); a longer
// one is a remote access key ("WHM USER:HASH", its line breaks removed), as WHM's
// documentation writes them. A control character in the user name, or in the key other
// than its line breaks, would end up in the header: such a login is refused.
struct WhmAuthorization {
    std::string header;
    std::string refusal;
};
WhmAuthorization whmAuthorization(std::string_view user, std::string_view key);

// Whether text holds a control character, line breaks (CR, LF) aside when they are
// allowed, as in a remote access key.
bool holdsControlCharacter(std::string_view text, bool lineBreaksAllowed = false);

// The key as WHM reads it: one line, no CR or LF.
std::string whmKeyWithoutLineBreaks(std::string_view key);
