#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
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
    // How long WHM may take to answer once connected: account creation is slow.
    std::chrono::seconds readTimeout{60};
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
    nlohmann::json data;
};

// No answer from WHM at all: no connection, a certificate that is not trusted, a time-out.
class WhmError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A WHM server as the gateway sees it. The real one is reached over HTTPS; the demo
// simulates one in memory.
class WhmApi {
public:
    virtual ~WhmApi() = default;

    // Carries one request to WHM and returns its raw answer; throws WhmError when none came.
    virtual WhmResponse send(const WhmRequest& request) = 0;

    // Sends the request and reads WHM's verdict. Never throws: every failure becomes an
    // outcome that is not ok, with a reason a person can act on.
    WhmOutcome call(const WhmRequest& request);

    // Reads a WHM API 1 answer: HTTP status, JSON, metadata.result and metadata.reason.
    static WhmOutcome readResponse(const WhmResponse& response);
};

// The key as WHM wants it in the Authorization header: one line, no CR or LF.
std::string whmKeyWithoutLineBreaks(const std::string& key);
