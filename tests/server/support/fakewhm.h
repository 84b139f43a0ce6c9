#pragma once

#include "selfsignedcertificate.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WhmApi;

// A WHM API 1 server on https://127.0.0.1:<free port> with a self-signed certificate.
// It records every request and answers either a scripted reply or, when given a WhmApi
// (the simulator), that API's own answer. It keeps connections alive, and can play a
// WHM that misbehaves: one that never answers, trickles, or sends without end.
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

    // The answer to every request from now on (and back to answering normally).
    void answer(int status, std::string body);
    // How long each answer waits before it is sent.
    void delay(std::chrono::milliseconds wait);
    // Reads requests and never answers them.
    void neverAnswer();
    // Sends each answer one byte at a time, a byte every interval.
    void trickle(std::chrono::milliseconds interval);
    // Answers with a body that never ends (chunked, as fast as it is read).
    void endlessBody();
    // Sends the first half of each answer, then closes the connection.
    void cutAnswers();
    // Closes each connection after a complete answer that said it would stay open.
    void closeAfterAnswer(bool close);

    std::vector<Seen> seen() const;
    // TCP connections accepted so far.
    int connections() const { return m_connections; }

private:
    enum class Mode { Answer, Silent, Trickle, Endless, Cut };
    struct Script {
        Mode mode = Mode::Answer;
        int status = 200;
        std::shared_ptr<const std::string> body;
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds trickle{0};
        bool closeAfter = false;
    };

    boost::asio::awaitable<void> acceptLoop();
    boost::asio::awaitable<void> serve(boost::asio::ip::tcp::socket socket);

    SelfSignedCertificate m_certificate;
    WhmApi* m_backend;
    // Before the context: the connections' coroutines, freed with it, use it.
    boost::asio::ssl::context m_tls;
    boost::asio::io_context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    int m_port = -1;
    std::atomic<int> m_connections{0};
    std::vector<std::thread> m_threads;
    mutable std::mutex m_mutex;
    std::vector<Seen> m_seen;
    Script m_script;
};
