#pragma once

#include "requestlog.h"
#include "whmapi.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

// How long one WHM call may take, from connecting to the answer's last byte, per kind of
// call: below the desktop program's own limits for lists and commands, while account
// creation can take minutes.
struct GatewayTimeouts {
    std::chrono::seconds list{50};
    std::chrono::seconds command{50};
    std::chrono::seconds create{240};
};

// What one client connection may cost: slow or idle peers must never hold the service.
struct GatewayLimits {
    std::size_t headerBytes = 16 * 1024;
    // From the connection (or the request's first byte) to the end of its header section.
    std::chrono::milliseconds headerTime{10'000};
    // A kept-alive connection with no request under way.
    std::chrono::milliseconds idleTime{15'000};
    // Writing one answer, for a client that reads slowly.
    std::chrono::milliseconds writeTime{30'000};
    // Connections beyond this are refused as they arrive.
    std::size_t maxConnections = 512;
};

struct GatewayOptions {
    GatewayTimeouts timeouts;
    GatewayLimits limits;
    // PEM files; when both are set the service speaks HTTPS only.
    std::string tlsCertificateFile;
    std::string tlsKeyFile;
    unsigned threads = 0; // 0: one per core, 2 to 8
};

// The gateway: answers the desktop program's requests on their fixed paths and query keys,
// turning each into one WHM API 1 call, and serves the site's pages. One io_context run by
// a few threads; connections and WHM calls wait asynchronously, so no peer holds a thread.
class GatewayService {
public:
    using Timeouts = GatewayTimeouts;
    using Limits = GatewayLimits;
    using Options = GatewayOptions;

    GatewayService(WhmApi& whm, RequestLog& log, Options options = {});
    // Runs on context, which the WHM client's sockets may share; run() runs it and stop()
    // stops it. Coroutines left in context after stop() use this object: destroy the
    // context first, or end the process.
    GatewayService(boost::asio::io_context& context, WhmApi& whm, RequestLog& log,
                   Options options = {});
    ~GatewayService();
    GatewayService(const GatewayService&) = delete;
    GatewayService& operator=(const GatewayService&) = delete;

    // Binds to host:port; port 0 takes a free port. Returns the bound port, or -1 with
    // bindError() saying why. Throws std::runtime_error when the TLS files cannot be used.
    int bind(const std::string& host, int port);
    const std::string& bindError() const;
    // Serves until stop(); returns false when serving could not start.
    bool run();
    void stop();
    bool isRunning() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
