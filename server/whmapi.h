#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/json/value.hpp>

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One WHM API 1 call: the function, its parameters (in order) and the login that the
// desktop program sent along with the request.
struct WhmRequest {
    std::string host;
    std::string user;
    std::string key;
    std::string function;
    std::vector<std::pair<std::string, std::string>> params;
    // The whole call, from the first connection attempt to the answer's last byte.
    std::chrono::steady_clock::duration timeout = std::chrono::seconds(50);
};

// What came back over the wire, before it is read.
struct WhmResponse {
    int status = 0;
    std::string body;
};

// What a call achieved: WHM did it (ok) or not, and WHM's own words for it.
struct WhmOutcome {
    bool ok = false;
    std::string reason;
    boost::json::value data;
};

// A list call's outcome: the names, in WHM's order, kept one after another in one block.
// When not ok, reason says why (WHM's refusal or an answer of the wrong shape) and there
// are no names.
struct WhmList {
    bool ok = false;
    std::string reason;
    std::string text;
    std::vector<std::size_t> ends; // where each name ends in text

    std::size_t size() const { return ends.size(); }
    std::string_view name(std::size_t i) const {
        std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(begin, ends[i] - begin);
    }
};

// No usable answer from WHM at all: no connection, a host that may not be reached, a
// certificate that is not trusted, the time limit, an answer over the size cap.
class WhmError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A WHM server as the gateway sees it. The real one is reached over HTTPS; the demo
// simulates one in memory. Calls wait asynchronously: a slow WHM holds no thread.
class WhmApi {
public:
    virtual ~WhmApi() = default;

    // Carries one request to WHM and completes with its raw answer; throws WhmError when
    // none came within request.timeout.
    virtual boost::asio::awaitable<WhmResponse> send(const WhmRequest& request) = 0;

    // Sends the request and reads WHM's verdict. Never throws: every failure becomes an
    // outcome that is not ok, with a reason a person can act on.
    boost::asio::awaitable<WhmOutcome> call(const WhmRequest& request);

    // Reads a WHM API 1 answer: HTTP status, JSON (nesting limited, never a crash),
    // metadata.result and metadata.reason.
    static WhmOutcome readResponse(const WhmResponse& response);

    // A list call: sends the request and reads the names data[arrayKey][i][nameKey] from
    // the answer in one pass, without building its JSON document. Never throws. The
    // verdict is the one readResponse and namesIn give together.
    boost::asio::awaitable<WhmList> callList(const WhmRequest& request, std::string_view arrayKey,
                                             std::string_view nameKey);
    static WhmList readList(const WhmResponse& response, std::string_view arrayKey,
                            std::string_view nameKey);
};

// The names in a list answer's data: data[arrayKey][i][nameKey], in WHM's order. A data
// of the wrong shape, or a name that is not a string, sets error (and names is then
// meaningless): such an answer is a failure, never an empty list.
struct WhmNames {
    std::vector<std::string> names;
    std::string error;
};
WhmNames namesIn(const boost::json::value& data, std::string_view arrayKey,
                 std::string_view nameKey);

// The key as WHM wants it in the Authorization header: one line, no CR or LF.
std::string whmKeyWithoutLineBreaks(const std::string& key);
