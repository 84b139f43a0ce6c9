#pragma once

#include "selfsignedcertificate.h"

#include <chrono>
#include <httplib.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WhmApi;

// A WHM API 1 server on https://127.0.0.1:<free port> with a self-signed certificate.
// It records every request and answers either a scripted reply or, when given a WhmApi
// (the simulator), that API's own answer.
class FakeWhm {
public:
    struct Seen {
        std::string path;
        std::multimap<std::string, std::string> params;
        std::string authorization;
    };

    explicit FakeWhm(WhmApi* backend = nullptr);
    ~FakeWhm();
    FakeWhm(const FakeWhm&) = delete;
    FakeWhm& operator=(const FakeWhm&) = delete;

    int port() const { return m_port; }
    const SelfSignedCertificate& certificate() const { return m_certificate; }

    // The answer to every request from now on.
    void answer(int status, std::string body);
    // How long each answer waits before it is sent.
    void delay(std::chrono::milliseconds wait);
    std::vector<Seen> seen() const;

private:
    SelfSignedCertificate m_certificate;
    httplib::SSLServer m_server;
    WhmApi* m_backend;
    int m_port = -1;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Seen> m_seen;
    std::chrono::milliseconds m_delay{0};
    int m_status = 200;
    std::string m_body = R"({"metadata":{"result":1,"reason":"OK","version":1}})";
};
