#pragma once

#include "whmapi.h"
#include "whmhostpolicy.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Reaches a real WHM server: https://HOST:PORT/json-api/FUNCTION?api.version=1&...
// with "Authorization: whm USER:KEY". The server's certificate is always verified, against
// the system's store or, when given, against one CA or self-signed certificate file, and
// must name the host. Connections are kept alive and reused, one request at a time.
class HttpsWhmApi : public WhmApi {
public:
    struct Options {
        int port = 2087;
        std::string caFile; // empty: the system's trust store
        // When not empty, the only WHM hosts that may be reached (--whm-host).
        std::vector<std::string> allowedHosts;
        // A pooled connection unused for this long is closed.
        std::chrono::steady_clock::duration idleLimit = std::chrono::seconds(15);
        std::uint64_t maxAnswerBytes = 64ull * 1024 * 1024;
    };

    // Sockets and timers live on executor (each connection on a strand of it); calls may
    // come from any thread. The object must outlive its calls.
    HttpsWhmApi(boost::asio::any_io_executor executor, Options options);
    ~HttpsWhmApi() override;

    boost::asio::awaitable<WhmResponse> send(const WhmRequest& request) override;

    // The path and query of a call, values percent-encoded: /json-api/F?api.version=1&k=v...
    static std::string pathFor(const WhmRequest& request);

    // Connections opened so far (for the figures and the reuse test).
    std::uint64_t connectionsOpened() const;

private:
    struct Connection;
    struct Pool;
    struct Exchange {
        bool retry = false;    // a stale kept connection: nothing came, try a new one
        bool reusable = false; // a complete, clean answer: the connection may go back
        WhmResponse response;
    };

    boost::asio::awaitable<void> connect(Connection& connection, const std::string& host,
                                         std::chrono::steady_clock::time_point deadline);
    boost::asio::awaitable<Exchange>
    exchange(Connection& connection, bool reused, const WhmRequest& request,
             const boost::beast::http::request<boost::beast::http::empty_body>& message,
             std::chrono::steady_clock::time_point deadline);

    boost::asio::any_io_executor m_executor;
    Options m_options;
    WhmHostPolicy m_policy;
    boost::asio::ssl::context m_tls;
    std::string m_tlsError;       // why the trusted certificates could not be loaded
    std::shared_ptr<Pool> m_pool; // shared with its sweeper, which may outlive this object
};
