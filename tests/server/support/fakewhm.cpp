#include "fakewhm.h"

#include "whmapi.h"

#include <stdexcept>

FakeWhm::FakeWhm(WhmApi* backend)
    : m_server(m_certificate.certificateFile().c_str(), m_certificate.keyFile().c_str()),
      m_backend(backend) {
    m_server.Get(R"(/json-api/([A-Za-z0-9_]+))", [this](const httplib::Request& req,
                                                        httplib::Response& res) {
        Seen seen{req.path,
                  {req.params.begin(), req.params.end()},
                  req.get_header_value("Authorization")};
        int status;
        std::string body;
        std::chrono::milliseconds wait;
        {
            std::lock_guard lock(m_mutex);
            m_seen.push_back(seen);
            status = m_status;
            body = m_body;
            wait = m_delay;
        }
        std::this_thread::sleep_for(wait);
        if (m_backend) {
            // "whm USER:KEY" back into the login the simulator checks.
            std::string login =
                seen.authorization.substr(std::min<size_t>(4, seen.authorization.size()));
            size_t colon = login.find(':');
            WhmRequest request{"127.0.0.1",
                               login.substr(0, colon),
                               colon == std::string::npos ? "" : login.substr(colon + 1),
                               req.matches[1],
                               {}};
            for (const auto& [key, value] : req.params)
                if (key != "api.version")
                    request.params.emplace_back(key, value);
            WhmResponse response = m_backend->send(request);
            status = response.status;
            body = std::move(response.body);
        }
        res.status = status;
        res.set_content(body, "application/json");
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("the fake WHM server could not bind");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() only reaches a server that is already listening.
    while (!m_server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeWhm::~FakeWhm() {
    m_server.stop();
    m_thread.join();
}

void FakeWhm::delay(std::chrono::milliseconds wait) {
    std::lock_guard lock(m_mutex);
    m_delay = wait;
}

void FakeWhm::answer(int status, std::string body) {
    std::lock_guard lock(m_mutex);
    m_status = status;
    m_body = std::move(body);
}

std::vector<FakeWhm::Seen> FakeWhm::seen() const {
    std::lock_guard lock(m_mutex);
    return m_seen;
}
