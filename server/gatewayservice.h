#pragma once

#include "gatewayhandler.h"
#include "requestlog.h"
#include "whmapi.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class ServiceContext;

// What one client connection may cost: slow or idle peers must never hold the service.
struct GatewayLimits {
    std::size_t headerBytes = 16 * 1024;
    // From the connection (or the request's first byte) to the end of its header section.
    std::chrono::milliseconds headerTime{10'000};
    // A kept-alive connection with no request under way.
    std::chrono::milliseconds idleTime{15'000};
    // Writing an answer: how long a client may take no byte of it. A slow client that
    // keeps reading gets the whole answer, however long it takes.
    std::chrono::milliseconds writeStall{30'000};
    // Connections beyond these, in all or from one peer address, are refused as they arrive.
    std::size_t maxConnections = 512;
    std::size_t maxConnectionsPerAddress = 64;
    // WHM calls in flight from one address (an IPv6 /64).
    std::size_t whmCallsPerAddress = GatewayHandler::Options().whmCallsPerAddress;
    // A graceful stop: how long requests under way may take to finish before they are
    // cancelled.
    std::chrono::milliseconds stopTimeout{20'000};
    // How long stopping waits for sessions and WHM calls to end once cancelled.
    std::chrono::milliseconds stopGrace{1'000};
};

struct GatewayOptions {
    GatewayTimeouts timeouts;
    GatewayLimits limits;
    // PEM files; when both are set the service speaks HTTPS only.
    std::string tlsCertificateFile;
    std::string tlsKeyFile;
    // Reverse proxies (ADDRESS or ADDRESS/PREFIX) whose PROXY header or X-Forwarded-For
    // names the client; validated by the command line.
    std::vector<std::string> trustedProxies;
    unsigned threads = 0; // 0: one per core, 2 to 8
    // How often systemd's watchdog wants to hear that the event loop runs; 0: it does not.
    std::chrono::microseconds watchdog{0};
};

// The gateway's listener: accepts connections within the caps, and in each session reads
// a request, hands it to the GatewayHandler, logs its record and writes its reply. One
// io_context run by a few threads; connections and WHM calls wait asynchronously, so no
// peer holds a thread.
class GatewayService {
public:
    using Timeouts = GatewayTimeouts;
    using Limits = GatewayLimits;
    using Options = GatewayOptions;

    // Runs on context, which the WHM client's sockets may share. The context, the WHM
    // client and the log must outlive this object.
    GatewayService(ServiceContext& context, WhmApi& whm, RequestLog& log, Options options = {});
    ~GatewayService();
    GatewayService(const GatewayService&) = delete;
    GatewayService& operator=(const GatewayService&) = delete;

    // Binds to host:port; port 0 takes a free port. Returns the bound port, or -1 with
    // bindError() saying why. Throws std::runtime_error when the TLS files cannot be used.
    int bind(const std::string& host, int port);
    const std::string& bindError() const;
    // Serves until stop(); returns false when serving could not start. On return every
    // session and WHM call has ended (those that outlast the stop's grace are dropped), so
    // nothing left on the context uses this object or the WHM client.
    bool run();
    // Stops accepting at once and closes the idle connections; requests under way have
    // `grace` to finish, then every session and WHM call is cancelled. From any thread;
    // returns at once, and run() returns when they have ended.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(0));
    bool isRunning() const;
    // Reads the TLS certificate and key and the WHM client's trusted certificates again;
    // what cannot be used is kept as it was. Empty when all went well, else why not.
    std::string reload();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
