#include "gatewayundertest.h"

#include "querytext.h"

#include <chrono>
#include <stdexcept>

GatewayUnderTest::GatewayUnderTest(WhmApi& whm, GatewayService::Timeouts timeouts)
    : m_log(m_logText), m_service(whm, m_log, timeouts) {
    m_port = m_service.bind("127.0.0.1", 0);
    if (m_port <= 0)
        throw std::runtime_error("the gateway could not bind");
    m_thread = std::thread([this] { m_service.run(); });
    while (!m_service.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

GatewayUnderTest::~GatewayUnderTest() {
    stop();
}

void GatewayUnderTest::stop() {
    if (m_thread.joinable()) {
        m_service.stop();
        m_thread.join();
    }
}

httplib::Result
GatewayUnderTest::get(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& query) {
    std::string target = path;
    char separator = '?';
    for (const auto& [key, value] : query) {
        target += separator + key + "=" + percentEncode(value);
        separator = '&';
    }
    httplib::Client client("127.0.0.1", m_port);
    client.set_url_encode(false);
    client.set_read_timeout(std::chrono::seconds(60));
    return client.Get(target);
}

std::string GatewayUnderTest::stopAndReadLog() {
    stop();
    return m_logText.str();
}
