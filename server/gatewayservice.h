#pragma once

#include "requestlog.h"
#include "whmapi.h"

#include <atomic>
#include <httplib.h>
#include <string>

// How long WHM may take to answer each kind of call once connected: lists are quick,
// account creation can take minutes.
struct GatewayTimeouts {
    std::chrono::seconds list{60};
    std::chrono::seconds command{60};
    std::chrono::seconds create{240};
};

// The gateway: answers the desktop program's requests on their fixed paths and query keys,
// turning each into one WHM API 1 call, and serves the site's pages.
class GatewayService {
public:
    using Timeouts = GatewayTimeouts;

    GatewayService(WhmApi& whm, RequestLog& log, Timeouts timeouts = {});
    GatewayService(const GatewayService&) = delete;
    GatewayService& operator=(const GatewayService&) = delete;

    // Binds to host:port; port 0 takes a free port. Returns the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); returns false when serving could not start.
    bool run();
    void stop();
    bool isRunning() const { return m_server.is_running(); }

private:
    struct Login {
        std::string host;
        std::string user;
        std::string key;
    };
    static Login loginOf(const httplib::Request& req);

    void route();
    WhmOutcome callWhm(const Login& login, const std::string& function,
                       std::vector<std::pair<std::string, std::string>> params,
                       std::chrono::seconds readTimeout);
    void serveList(const httplib::Request& req, httplib::Response& res, const char* function,
                   std::vector<std::pair<std::string, std::string>> params, const char* arrayKey,
                   const char* nameKey);
    void serveCreate(const httplib::Request& req, httplib::Response& res);
    void serveAccountCommand(const httplib::Request& req, httplib::Response& res,
                             const char* accountKey, const char* function, const char* whmUserKey,
                             const char* doneText, const char* failText);

    WhmApi& m_whm;
    RequestLog& m_log;
    Timeouts m_timeouts;
    httplib::Server m_server;
    std::atomic<unsigned> m_tipCount{0};
};
