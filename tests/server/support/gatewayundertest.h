#pragma once

#include "gatewayservice.h"
#include "requestlog.h"
#include "servicecontext.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// One HTTP answer as a client read it.
struct HttpAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name (any case), or "".
    std::string get_header_value(const std::string& name) const;
};
// Empty when no answer came: no connection, a broken one, the time limit.
using HttpResult = std::optional<HttpAnswer>;

// GET target from http(s)://127.0.0.1:port on a connection of its own, with Connection:
// close, from the loopback address `from` (default: the system's choice). With caFile the
// connection is HTTPS, trusting only that certificate.
HttpResult httpGet(int port, const std::string& target, const std::string& caFile = {},
                   std::chrono::seconds timeout = std::chrono::seconds(60),
                   const std::string& from = {});

// An io_context run by a thread of its own while this lives: for a WHM client that a test
// makes before the gateway in front of it.
class IoThread {
public:
    IoThread() : m_thread([this] { m_context.run(); }) {}
    ~IoThread() { stop(); }
    void stop() {
        m_work.reset();
        m_context.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    boost::asio::any_io_executor executor() { return m_context.get_executor(); }

private:
    boost::asio::io_context m_context;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work{
        m_context.get_executor()};
    std::thread m_thread;
};

// corvala-gateway running in this process on http://127.0.0.1:<free port>, in front of the
// given WHM, with its log kept in memory.
class GatewayUnderTest {
public:
    // A WHM client on whmThread finishes each call on the gateway's threads, and holds
    // on to them a moment longer: that thread is stopped before the gateway goes.
    explicit GatewayUnderTest(WhmApi& whm, GatewayService::Options options = {},
                              IoThread* whmThread = nullptr);
    ~GatewayUnderTest();
    GatewayUnderTest(const GatewayUnderTest&) = delete;
    GatewayUnderTest& operator=(const GatewayUnderTest&) = delete;

    int port() const { return m_port; }

    // GET path?k=v&... with every value percent-encoded as the desktop program sends it.
    HttpResult get(const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& query = {});
    // GET target exactly as given.
    HttpResult getRaw(const std::string& target);

    // Stops the service (so every log line is written) and returns the whole log.
    std::string stopAndReadLog();
    // A stop that gives requests under way `grace` to finish, as SIGTERM does.
    void stopGracefully(std::chrono::milliseconds grace);
    std::string reload() { return m_service.reload(); }

private:
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(0));

    std::ostringstream m_logText;
    RequestLog m_log;
    ServiceContext m_context;
    GatewayService m_service;
    std::string m_caFile; // set when the service speaks HTTPS
    int m_port = -1;
    std::thread m_thread;
    IoThread* m_whmThread;
};
