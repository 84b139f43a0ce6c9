#pragma once

#include "whmapi.h"
#include "whmbudget.h"
#include "whmhostpolicy.h"
#include "whmpool.h"
#include "whmresolver.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Reaches a real WHM server: https://HOST:PORT/json-api/FUNCTION?api.version=1&...
// The server's certificate is always verified, against the system's store or, when given,
// against one CA or self-signed certificate file, and must name the host. Connections are
// kept alive for lists, one request at a time; a command always goes on a connection of
// its own, so it reaches WHM at most once. WHM's answer is read as it arrives, every byte
// of it counted against a cap, and a budget bounds all calls in flight together.
class HttpsWhmApi : public WhmApi {
public:
    struct Options {
        int port = 2087;
        std::string caFile; // empty: the system's trust store
        // When not empty, the only WHM hosts that may be reached (--whm-host).
        std::vector<std::string> allowedHosts;
        // Idle kept-alive connections: per host, in all, and how long each may wait.
        WhmPool::Limits idle;
        // Every byte of one answer counts: status line, headers, chunk framing, trailers
        // and body. A command's answer is WHM's metadata and a short output.
        std::uint64_t maxListAnswerBytes = 64ull << 20;
        std::uint64_t maxCommandAnswerBytes = 4ull << 20;
        // All calls in flight together; a call beyond either is answered busy at once.
        std::size_t maxCallsInFlight = 64;
        std::uint64_t maxBytesInFlight = 256ull << 20;
        // Host look-ups that may run at once, and how a name is looked up (empty: the
        // system's resolver).
        unsigned lookupThreads = 16;
        WhmResolver::Lookup lookup;

        // The most descriptors its sockets may hold at once: a connection per call in
        // flight, the idle ones, and a look-up's socket per look-up thread.
        std::size_t maxDescriptors() const { return maxCallsInFlight + idle.total + lookupThreads; }
    };

    // Sockets and timers live on executor (each connection on a strand of it); calls may
    // come from any thread. The object must outlive its calls.
    HttpsWhmApi(boost::asio::any_io_executor executor, Options options);
    ~HttpsWhmApi() override;

    // The path and query of a call, values percent-encoded: /json-api/F?api.version=1&k=v...
    // It holds the call's parameters, a password among them: it is a secret.
    static Secret pathFor(const WhmRequest& request);

    // Connections opened so far (for the figures and the reuse test).
    std::uint64_t connectionsOpened() const;
    WhmUsage usage() const override;
    // Loads the trusted certificates again (the system's store, or the --whm-ca file).
    std::string reloadTrust() override;
    const WhmPool& pool() const { return *m_pool; }
    const WhmBudget& budget() const { return m_budget; }

protected:
    boost::asio::awaitable<void> send(const WhmRequest& request, std::string_view authorization,
                                      WhmCallKind kind, WhmAnswerReader& reader) override;

private:
    boost::asio::any_io_executor m_executor;
    Options m_options;
    WhmHostPolicy m_policy;
    WhmBudget m_budget;
    WhmResolver m_resolver;
    // What new connections trust; a connection keeps the one it was made with.
    std::shared_ptr<boost::asio::ssl::context> trust() const;

    mutable std::mutex m_trustMutex;
    std::shared_ptr<boost::asio::ssl::context> m_tls;
    std::string m_tlsError; // why the trusted certificates could not be loaded at start
    std::shared_ptr<WhmPool> m_pool;
};
