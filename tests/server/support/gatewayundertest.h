#pragma once

#include "gatewayservice.h"
#include "requestlog.h"

#include <httplib.h>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// corvala-gateway running in this process on http://127.0.0.1:<free port>, in front of the
// given WHM, with its log kept in memory.
class GatewayUnderTest {
public:
    explicit GatewayUnderTest(WhmApi& whm, GatewayService::Timeouts timeouts = {});
    ~GatewayUnderTest();
    GatewayUnderTest(const GatewayUnderTest&) = delete;
    GatewayUnderTest& operator=(const GatewayUnderTest&) = delete;

    int port() const { return m_port; }

    // GET path?k=v&... with every value percent-encoded as the desktop program sends it.
    httplib::Result get(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& query = {});

    // Stops the service (so every log line is written) and returns the whole log.
    std::string stopAndReadLog();

private:
    void stop();

    std::ostringstream m_logText;
    RequestLog m_log;
    GatewayService m_service;
    int m_port = -1;
    std::thread m_thread;
};
