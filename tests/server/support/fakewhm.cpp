#include "fakewhm.h"

#include "whmapi.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/url/parse.hpp>

#include <sstream>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

constexpr auto noThrow = [](beast::error_code& ec) {
    return asio::redirect_error(asio::use_awaitable, ec);
};

} // namespace

FakeWhm::FakeWhm(Backend backend)
    : m_backend(std::move(backend)), m_tls(asio::ssl::context::tls_server), m_acceptor(m_context) {
    m_tls.use_certificate_chain_file(m_certificate.certificateFile());
    m_tls.use_private_key_file(m_certificate.keyFile(), asio::ssl::context::pem);
    m_script.body = std::make_shared<const std::string>(
        R"({"metadata":{"result":1,"reason":"OK","version":1},"data":{}})");

    tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    m_acceptor.open(endpoint.protocol());
    m_acceptor.bind(endpoint);
    m_acceptor.listen(asio::socket_base::max_listen_connections);
    m_port = m_acceptor.local_endpoint().port();
    asio::co_spawn(m_context, acceptLoop(), asio::detached);
    // Two threads: enough for the figures of several clients against one stand-in.
    for (int i = 0; i < 2; ++i)
        m_threads.emplace_back([this] { m_context.run(); });
}

FakeWhm::~FakeWhm() {
    m_context.stop();
    for (std::thread& thread : m_threads)
        thread.join();
}

void FakeWhm::answer(int status, std::string body) {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Answer;
    m_script.status = status;
    m_script.body = std::make_shared<const std::string>(std::move(body));
}

void FakeWhm::delay(std::chrono::milliseconds wait) {
    std::lock_guard lock(m_mutex);
    m_script.delay = wait;
}

void FakeWhm::neverAnswer() {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Silent;
}

void FakeWhm::trickle(std::chrono::milliseconds interval) {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Trickle;
    m_script.trickle = interval;
}

void FakeWhm::endlessBody() {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Endless;
}

void FakeWhm::cutAnswers() {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Cut;
}

void FakeWhm::closeAfterAnswer(bool close) {
    std::lock_guard lock(m_mutex);
    m_script.closeAfter = close;
}

void FakeWhm::answerRaw(std::string head, std::string piece, std::size_t repeat, std::string tail) {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Raw;
    m_script.raw = std::make_shared<const Raw>(
        Raw{std::move(head), std::move(piece), std::move(tail), repeat});
}

void FakeWhm::sendAfterAnswer(std::string bytes, std::chrono::milliseconds after) {
    std::lock_guard lock(m_mutex);
    m_script.afterAnswer = std::move(bytes);
    m_script.afterDelay = after;
}

void FakeWhm::dropAfterRequest() {
    std::lock_guard lock(m_mutex);
    m_script.mode = Mode::Drop;
}

std::vector<FakeWhm::Seen> FakeWhm::seen() const {
    std::lock_guard lock(m_mutex);
    return m_seen;
}

asio::awaitable<void> FakeWhm::acceptLoop() {
    for (;;) {
        beast::error_code ec;
        tcp::socket socket =
            co_await m_acceptor.async_accept(asio::make_strand(m_context), noThrow(ec));
        if (ec)
            continue;
        ++m_connections;
        auto executor = socket.get_executor();
        asio::co_spawn(executor, serve(std::move(socket)), asio::detached);
    }
}

http::response<http::string_body> FakeWhm::reply(const Seen& seen, const Script& script) const {
    http::response<http::string_body> response;
    response.version(11);
    response.set(http::field::content_type, "application/json");
    if (!m_backend) {
        response.result(static_cast<unsigned>(script.status));
        response.body() = *script.body;
        return response;
    }
    // "whm USER:KEY" back into the login the simulator checks.
    std::string login = seen.authorization.substr(std::min<size_t>(4, seen.authorization.size()));
    size_t colon = login.find(':');
    WhmRequest call{"127.0.0.1",
                    login.substr(0, colon),
                    colon == std::string::npos ? "" : login.substr(colon + 1),
                    seen.path.substr(std::min(seen.path.size(), size_t(10))),
                    {}};
    for (const auto& [key, value] : seen.params)
        if (key != "api.version")
            call.params.emplace_back(key, value);
    WhmResponse answer = m_backend(call);
    response.result(static_cast<unsigned>(answer.status));
    response.body() = std::move(answer.body);
    return response;
}

asio::awaitable<void> FakeWhm::serve(tcp::socket socket) {
    struct Closed {
        std::atomic<int>& n;
        ~Closed() { ++n; }
    } closed{m_closed};
    beast::error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    asio::ssl::stream<beast::tcp_stream> stream(beast::tcp_stream(std::move(socket)), m_tls);
    co_await stream.async_handshake(asio::ssl::stream_base::server, noThrow(ec));
    if (ec)
        co_return;
    beast::flat_buffer buffer;
    asio::steady_timer timer(stream.get_executor());
    for (;;) {
        http::request_parser<http::empty_body> parser;
        co_await http::async_read(stream, buffer, parser, noThrow(ec));
        if (ec)
            co_return;
        const auto& request = parser.get();

        Seen seen;
        auto target = boost::urls::parse_origin_form(request.target());
        if (target) {
            seen.path = std::string(target->path());
            for (const auto& param : target->params())
                seen.params.emplace(param.key, param.value);
        }
        seen.authorization = std::string(request[http::field::authorization]);
        Script script;
        {
            std::lock_guard lock(m_mutex);
            m_seen.push_back(seen);
            script = m_script;
        }
        if (script.delay.count() > 0) {
            timer.expires_after(script.delay);
            co_await timer.async_wait(noThrow(ec));
        }
        if (script.mode == Mode::Drop)
            co_return;
        if (script.mode == Mode::Silent) {
            // Holds the connection until the client closes it or the stand-in goes.
            char byte;
            co_await stream.async_read_some(asio::buffer(&byte, 1), noThrow(ec));
            co_return;
        }
        if (script.mode == Mode::Raw) {
            const Raw& raw = *script.raw;
            co_await asio::async_write(stream, asio::buffer(raw.head), noThrow(ec));
            // The pieces go in writes of about 64 KiB, as a server's buffered output would.
            std::string batch;
            for (std::size_t i = 0; i < raw.repeat && !ec; ++i) {
                batch += raw.piece;
                if (batch.size() >= 64 * 1024 || i + 1 == raw.repeat) {
                    co_await asio::async_write(stream, asio::buffer(batch), noThrow(ec));
                    batch.clear();
                }
            }
            if (!ec)
                co_await asio::async_write(stream, asio::buffer(raw.tail), noThrow(ec));
        } else if (script.mode == Mode::Endless) {
            http::response<http::string_body> response{http::status::ok, 11};
            response.chunked(true);
            http::response_serializer<http::string_body> serializer(response);
            co_await http::async_write_header(stream, serializer, noThrow(ec));
            // Blanks: an answer that could still become JSON, so only its size stops it.
            const std::string chunk = "6000\r\n" + std::string(0x6000, ' ') + "\r\n";
            while (!ec)
                co_await asio::async_write(stream, asio::buffer(chunk), noThrow(ec));
            co_return;
        } else {
            http::response<http::string_body> response = reply(seen, script);
            response.keep_alive(request.keep_alive());
            response.prepare_payload();
            if (script.mode == Mode::Trickle || script.mode == Mode::Cut) {
                std::ostringstream text;
                text << response;
                std::string bytes = text.str();
                if (script.mode == Mode::Cut) {
                    bytes.resize(bytes.size() / 2);
                    co_await asio::async_write(stream, asio::buffer(bytes), noThrow(ec));
                    co_return;
                }
                for (char byte : bytes) {
                    co_await asio::async_write(stream, asio::buffer(&byte, 1), noThrow(ec));
                    if (ec)
                        co_return;
                    timer.expires_after(script.trickle);
                    co_await timer.async_wait(noThrow(ec));
                }
            } else {
                co_await http::async_write(stream, response, noThrow(ec));
            }
        }
        if (!script.afterAnswer.empty() && !ec) {
            timer.expires_after(script.afterDelay);
            co_await timer.async_wait(noThrow(ec));
            co_await asio::async_write(stream, asio::buffer(script.afterAnswer), noThrow(ec));
        }
        if (script.closeAfter)
            co_return;
        if (ec || !request.keep_alive())
            co_return;
    }
}
