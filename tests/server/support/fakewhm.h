#pragma once

#include "selfsignedcertificate.h"
#include "whmsimulator.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A WHM API 1 server on https://127.0.0.1:<free port> with a self-signed certificate.
// It records every request and answers either a scripted reply or, when given a backend
// (the simulator's answers), the backend's. It keeps connections alive, and can play a
// WHM that misbehaves: one that never answers, trickles, sends without end, sends bytes
// of its own making, or drops the connection.
class FakeWhm {
public:
    struct Seen {
        std::string path;
        std::multimap<std::string, std::string> params;
        std::string authorization;
    };
    using Backend = std::function<WhmResponse(const WhmRequest&)>;

    explicit FakeWhm(Backend backend = {});
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
    // Answers with these bytes as they are, HTTP framing and all: head, then piece
    // `repeat` times, then tail; sizes far beyond memory cost none.
    void answerRaw(std::string head, std::string piece = {}, std::size_t repeat = 0,
                   std::string tail = {});
    // After each answer, waits `after`, then sends bytes on the same connection.
    void sendAfterAnswer(std::string bytes, std::chrono::milliseconds after);
    // Reads each request, then closes the connection without a byte of answer.
    void dropAfterRequest();

    std::vector<Seen> seen() const;
    // TCP connections accepted so far, and those the client has closed or that were
    // dropped.
    int connections() const { return m_connections; }
    int closedConnections() const { return m_closed; }

private:
    enum class Mode { Answer, Silent, Trickle, Endless, Cut, Raw, Drop };
    struct Raw {
        std::string head, piece, tail;
        std::size_t repeat = 0;
    };
    struct Script {
        Mode mode = Mode::Answer;
        int status = 200;
        std::shared_ptr<const std::string> body;
        std::shared_ptr<const Raw> raw;
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds trickle{0};
        bool closeAfter = false;
        std::string afterAnswer;
        std::chrono::milliseconds afterDelay{0};
    };

    boost::asio::awaitable<void> acceptLoop();
    boost::asio::awaitable<void> serve(boost::asio::ip::tcp::socket socket);
    // The scripted answer, or the backend's, to a request.
    boost::beast::http::response<boost::beast::http::string_body> reply(const Seen& seen,
                                                                        const Script& script) const;

    SelfSignedCertificate m_certificate;
    Backend m_backend;
    // Before the context: the connections' coroutines, freed with it, use it.
    boost::asio::ssl::context m_tls;
    boost::asio::io_context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    int m_port = -1;
    std::atomic<int> m_connections{0};
    std::atomic<int> m_closed{0};
    std::vector<std::thread> m_threads;
    mutable std::mutex m_mutex;
    std::vector<Seen> m_seen;
    Script m_script;
};
