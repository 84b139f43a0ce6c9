#include "gatewayundertest.h"

#include "textrules.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <stdexcept>
#include <strings.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto tuple = asio::as_tuple(asio::use_awaitable);

template <class Stream>
asio::awaitable<void> exchange(Stream& stream, std::string target, HttpResult& result) {
    http::request<http::empty_body> req(http::verb::get, target, 11);
    req.set(http::field::host, "127.0.0.1");
    req.keep_alive(false);
    auto [writeError, written] = co_await http::async_write(stream, req, tuple);
    if (writeError)
        co_return;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(256 * 1024 * 1024);
    auto [readError, read] = co_await http::async_read(stream, buffer, parser, tuple);
    if (readError)
        co_return;
    HttpAnswer answer;
    answer.status = parser.get().result_int();
    for (const auto& field : parser.get())
        answer.headers.emplace_back(field.name_string(), field.value());
    answer.body = std::move(parser.get().body());
    result = std::move(answer);
}

asio::awaitable<void> fetch(int port, std::string target, std::string caFile,
                            std::chrono::seconds timeout, std::string from, HttpResult& result) {
    auto executor = co_await asio::this_coro::executor;
    beast::tcp_stream tcp(executor);
    tcp.expires_after(timeout);
    if (!from.empty()) {
        tcp.socket().open(tcp::v4());
        tcp.socket().bind({asio::ip::make_address(from), 0});
    }
    tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port));
    auto [connectError] = co_await tcp.async_connect(endpoint, tuple);
    if (connectError)
        co_return;
    if (caFile.empty()) {
        co_await exchange(tcp, std::move(target), result);
        co_return;
    }
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.load_verify_file(caFile);
    beast::ssl_stream<beast::tcp_stream> tls(std::move(tcp), context);
    tls.set_verify_mode(asio::ssl::verify_peer);
    tls.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
    auto [handshakeError] = co_await tls.async_handshake(asio::ssl::stream_base::client, tuple);
    if (!handshakeError)
        co_await exchange(tls, std::move(target), result);
}

} // namespace

std::string HttpAnswer::get_header_value(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

HttpResult httpGet(int port, const std::string& target, const std::string& caFile,
                   std::chrono::seconds timeout, const std::string& from) {
    asio::io_context context;
    HttpResult result;
    asio::co_spawn(context, fetch(port, target, caFile, timeout, from, result), asio::detached);
    context.run();
    return result;
}

GatewayUnderTest::GatewayUnderTest(WhmApi& whm, GatewayService::Options options,
                                   IoThread* whmThread)
    : m_log(m_logText), m_service(m_context, whm, m_log, options),
      m_caFile(options.tlsCertificateFile), m_whmThread(whmThread) {
    m_port = m_service.bind("127.0.0.1", 0);
    if (m_port <= 0)
        throw std::runtime_error("the gateway could not bind: " + m_service.bindError());
    m_thread = std::thread([this] { m_service.run(); });
    while (!m_service.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

GatewayUnderTest::~GatewayUnderTest() {
    stop();
    if (m_whmThread)
        m_whmThread->stop();
}

void GatewayUnderTest::stop(std::chrono::milliseconds grace) {
    if (m_thread.joinable()) {
        m_service.stop(grace);
        m_thread.join();
    }
}

void GatewayUnderTest::stopGracefully(std::chrono::milliseconds grace) {
    stop(grace);
}

HttpResult GatewayUnderTest::get(const std::string& path,
                                 const std::vector<std::pair<std::string, std::string>>& query) {
    std::string target = path;
    char separator = '?';
    for (const auto& [key, value] : query) {
        target += separator + key + "=" + percentEncode(value);
        separator = '&';
    }
    return getRaw(target);
}

HttpResult GatewayUnderTest::getRaw(const std::string& target) {
    return httpGet(m_port, target, m_caFile);
}

std::string GatewayUnderTest::stopAndReadLog() {
    stop();
    m_log.flush();
    return m_logText.str();
}
