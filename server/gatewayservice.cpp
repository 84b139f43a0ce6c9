#include "gatewayservice.h"

#include "sitepages.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* htmlType = "text/html; charset=utf-8";
constexpr const char* textType = "text/plain; charset=utf-8";
constexpr auto tuple = asio::as_tuple(asio::use_awaitable);

using Query = std::vector<std::pair<std::string, std::string>>;
using Params = std::vector<std::pair<std::string, std::string>>;

// The first value of key, as the desktop program sends each key once.
std::string valueOf(const Query& query, std::string_view key) {
    for (const auto& [k, v] : query)
        if (k == key)
            return v;
    return {};
}

// The WHM call a request asks for, with the login it carries.
WhmRequest requestOf(const Query& query, std::string function, Params params,
                     std::chrono::seconds timeout) {
    return {valueOf(query, "host"), valueOf(query, "user"), valueOf(query, "accesshash"),
            std::move(function),    std::move(params),      timeout};
}

struct Reply {
    http::status status = http::status::ok;
    const char* type = htmlType;
    std::string body;
};

// What a command's page says for each outcome.
struct CommandTexts {
    const char* done;
    const char* refused;
    const char* notKnown;
    bool inClientsList; // whether "Refresh All" shows what the command changed
};

constexpr CommandTexts suspendTexts{"Account suspended", "Account not suspended",
                                    "Suspension not confirmed", false};
constexpr CommandTexts unsuspendTexts{"Account unsuspended", "Account not unsuspended",
                                      "Unsuspension not confirmed", false};
constexpr CommandTexts terminateTexts{"Account terminated", "Account not terminated",
                                      "Termination not confirmed", true};

bool isListPath(std::string_view path) {
    return path == "/clients.php" || path == "/paks.php";
}

} // namespace

struct GatewayService::Impl {
    Impl(asio::io_context* context, WhmApi& whm, RequestLog& log, Options options)
        : m_whm(whm), m_log(log), m_options(std::move(options)),
          m_ownContext(context ? nullptr : std::make_unique<asio::io_context>()),
          m_ioc(context ? *context : *m_ownContext) {}

    asio::awaitable<void> acceptLoop();
    void refuse(tcp::socket& socket);
    template <class Stream> asio::awaitable<void> session(Stream stream, std::string remote);
    asio::awaitable<Reply> answer(std::string_view path, const Query& query);
    asio::awaitable<WhmOutcome> callWhm(const Query& query, std::string function, Params params,
                                        std::chrono::seconds timeout);
    asio::awaitable<Reply> list(const Query& query, const char* function, Params params,
                                const char* arrayKey, const char* nameKey);
    asio::awaitable<Reply> create(const Query& query);
    asio::awaitable<Reply> accountCommand(const Query& query, const char* accountKey,
                                          const char* function, const char* whmUserKey,
                                          const CommandTexts& texts);
    static Reply commandReply(const WhmOutcome& outcome, const CommandTexts& texts,
                              const std::string& account, const std::string& doneDetail);

    WhmApi& m_whm;
    RequestLog& m_log;
    Options m_options;
    std::string m_bindError;
    std::atomic<unsigned> m_tipCount{0};
    std::atomic<std::size_t> m_connections{0};
    std::atomic<bool> m_running{false};
    // Declared before the io_context: connections still open when it goes use it.
    std::optional<ssl::context> m_tls;
    std::unique_ptr<asio::io_context> m_ownContext;
    asio::io_context& m_ioc;
    tcp::acceptor m_acceptor{m_ioc};
};

GatewayService::GatewayService(WhmApi& whm, RequestLog& log, Options options)
    : m_impl(std::make_unique<Impl>(nullptr, whm, log, std::move(options))) {}

GatewayService::GatewayService(asio::io_context& context, WhmApi& whm, RequestLog& log,
                               Options options)
    : m_impl(std::make_unique<Impl>(&context, whm, log, std::move(options))) {}

GatewayService::~GatewayService() {
    stop();
}

int GatewayService::bind(const std::string& host, int port) {
    Impl& d = *m_impl;
    if (!d.m_options.tlsCertificateFile.empty() || !d.m_options.tlsKeyFile.empty()) {
        try {
            d.m_tls.emplace(ssl::context::tls_server);
            d.m_tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                                 ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                                 ssl::context::no_tlsv1_1);
            d.m_tls->use_certificate_chain_file(d.m_options.tlsCertificateFile);
            d.m_tls->use_private_key_file(d.m_options.tlsKeyFile, ssl::context::pem);
        } catch (const boost::system::system_error& e) {
            d.m_tls.reset();
            throw std::runtime_error("cannot use the TLS certificate " +
                                     d.m_options.tlsCertificateFile + " with the key " +
                                     d.m_options.tlsKeyFile + ": " + e.code().message());
        }
    }
    boost::system::error_code ec;
    tcp::resolver resolver(d.m_ioc);
    auto endpoints = resolver.resolve(host, std::to_string(port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || endpoints.empty()) {
        d.m_bindError = "cannot resolve " + host + ": " + ec.message();
        return -1;
    }
    tcp::endpoint endpoint = *endpoints.begin();
    d.m_acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        d.m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        d.m_acceptor.bind(endpoint, ec);
    if (!ec)
        d.m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        d.m_bindError = ec.message();
        d.m_acceptor.close(ec);
        return -1;
    }
    return d.m_acceptor.local_endpoint().port();
}

const std::string& GatewayService::bindError() const {
    return m_impl->m_bindError;
}

bool GatewayService::run() {
    Impl& d = *m_impl;
    if (!d.m_acceptor.is_open())
        return false;
    asio::co_spawn(d.m_ioc, d.acceptLoop(), asio::detached);
    unsigned threads = d.m_options.threads;
    if (threads == 0)
        threads = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    d.m_running = true;
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; ++i)
        pool.emplace_back([&d] { d.m_ioc.run(); });
    d.m_ioc.run();
    for (std::thread& t : pool)
        t.join();
    d.m_running = false;
    return true;
}

void GatewayService::stop() {
    m_impl->m_ioc.stop();
}

bool GatewayService::isRunning() const {
    return m_impl->m_running;
}

asio::awaitable<void> GatewayService::Impl::acceptLoop() {
    asio::steady_timer pause(m_ioc);
    while (m_acceptor.is_open()) {
        auto [ec, accepted] = co_await m_acceptor.async_accept(asio::make_strand(m_ioc), tuple);
        tcp::socket socket(std::move(accepted));
        if (ec == asio::error::operation_aborted)
            co_return;
        if (ec) {
            // Out of file descriptors and the like: wait a little rather than spin.
            m_log.note("accepting a connection failed: " + ec.message());
            pause.expires_after(std::chrono::milliseconds(50));
            co_await pause.async_wait(tuple);
            continue;
        }
        if (m_connections.load() >= m_options.limits.maxConnections) {
            refuse(socket);
            continue;
        }
        boost::system::error_code ignored;
        // Small answers on kept-alive connections must not wait for a delayed ACK.
        socket.set_option(tcp::no_delay(true), ignored);
        std::string remote = socket.remote_endpoint(ignored).address().to_string();
        ++m_connections;
        auto executor = socket.get_executor();
        beast::tcp_stream stream(std::move(socket));
        if (m_tls)
            asio::co_spawn(executor,
                           session(beast::ssl_stream<beast::tcp_stream>(std::move(stream), *m_tls),
                                   std::move(remote)),
                           asio::detached);
        else
            asio::co_spawn(executor, session(std::move(stream), std::move(remote)), asio::detached);
    }
}

// At the connection cap: a plain-HTTP client is told so in one write that never waits, a
// TLS one just sees the connection close.
void GatewayService::Impl::refuse(tcp::socket& socket) {
    boost::system::error_code ignored;
    if (!m_tls) {
        static constexpr std::string_view busy =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 34\r\nConnection: close\r\n\r\nThe gateway has too many clients.\n";
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(busy), ignored);
        socket.shutdown(tcp::socket::shutdown_send, ignored);
    }
    socket.close(ignored);
}

namespace {

beast::tcp_stream& tcpOf(beast::tcp_stream& stream) {
    return stream;
}
beast::tcp_stream& tcpOf(beast::ssl_stream<beast::tcp_stream>& stream) {
    return stream.next_layer();
}

asio::awaitable<void> handshake(beast::tcp_stream&) {
    co_return;
}
asio::awaitable<void> handshake(beast::ssl_stream<beast::tcp_stream>& stream) {
    auto [ec] = co_await stream.async_handshake(ssl::stream_base::server, tuple);
    if (ec)
        throw boost::system::system_error(ec);
}

asio::awaitable<void> closeGracefully(beast::tcp_stream& stream) {
    boost::system::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    co_return;
}
asio::awaitable<void> closeGracefully(beast::ssl_stream<beast::tcp_stream>& stream) {
    stream.next_layer().expires_after(std::chrono::seconds(2));
    co_await stream.async_shutdown(tuple);
}

} // namespace

template <class Stream>
asio::awaitable<void> GatewayService::Impl::session(Stream stream, std::string remote) {
    struct Count {
        std::atomic<std::size_t>& n;
        ~Count() { --n; }
    } count{m_connections};
    const Limits& limits = m_options.limits;
    beast::tcp_stream& tcp = tcpOf(stream);
    try {
        tcp.expires_after(limits.headerTime);
        co_await handshake(stream);
        // Room for one header section and whatever pipelined bytes came with it.
        beast::flat_buffer buffer(limits.headerBytes + 16 * 1024);
        bool first = true;
        for (;;) {
            if (!first && buffer.size() == 0) {
                // Between requests: the idle limit runs until the next request's first
                // byte, then the header limit.
                tcp.expires_after(limits.idleTime);
                auto [ec, n] = co_await stream.async_read_some(buffer.prepare(1024), tuple);
                if (ec)
                    break;
                buffer.commit(n);
            }
            if (!first)
                tcp.expires_after(limits.headerTime);
            first = false;

            http::request_parser<http::string_body> parser;
            parser.header_limit(static_cast<std::uint32_t>(limits.headerBytes));
            parser.body_limit(16 * 1024); // the service takes GETs: no body to speak of
            auto [ec, n] = co_await http::async_read(stream, buffer, parser, tuple);

            std::optional<http::status> refusal;
            if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
                refusal = http::status::request_header_fields_too_large;
            else if (ec == http::error::body_limit)
                refusal = http::status::payload_too_large;
            else if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
                     ec == asio::error::eof || ec == asio::error::connection_reset ||
                     ec == asio::error::operation_aborted || ec == ssl::error::stream_truncated)
                break;
            else if (ec)
                refusal = http::status::bad_request;

            http::response<http::string_body> res;
            res.version(11);
            res.set(http::field::server, "corvala-gateway");
            bool keepAlive = false;
            if (refusal) {
                res.result(*refusal);
                res.set(http::field::content_type, textType);
                res.body() = std::string(res.reason()) + "\n";
                m_log.request(remote, "-", "-", static_cast<int>(*refusal));
            } else {
                const auto& req = parser.get();
                keepAlive = req.keep_alive();
                res.version(req.version());
                Reply reply;
                bool head = req.method() == http::verb::head;
                std::string_view target(req.target().data(), req.target().size());
                auto url = boost::urls::parse_origin_form(target);
                if (req.method() != http::verb::get && !head) {
                    reply = {http::status::method_not_allowed, textType,
                             "Only GET requests are served here.\n"};
                    res.set(http::field::allow, "GET, HEAD");
                } else if (!url) {
                    reply = {http::status::bad_request, textType,
                             "The request's address cannot be read.\n"};
                } else {
                    boost::urls::encoding_opts form;
                    form.space_as_plus = true; // a form-encoded blank
                    Query query;
                    for (auto param : url->params(form))
                        query.emplace_back(param.key, param.value);
                    // Nothing waits on the client while WHM works.
                    tcp.expires_never();
                    reply = co_await answer(url->path(), query);
                }
                res.result(reply.status);
                res.set(http::field::content_type, reply.type);
                res.body() = std::move(reply.body);
                if (head) {
                    res.content_length(res.body().size());
                    res.body().clear();
                }
                m_log.request(remote, std::string(req.method_string()), target, res.result_int());
            }
            res.keep_alive(keepAlive);
            if (res.find(http::field::content_length) == res.end())
                res.prepare_payload();
            tcp.expires_after(limits.writeTime);
            auto [writeError, written] = co_await http::async_write(stream, res, tuple);
            if (writeError || !keepAlive)
                break;
        }
        co_await closeGracefully(stream);
    } catch (const std::exception&) {
        // The peer went away or broke the protocol; nothing to answer.
    }
}

asio::awaitable<Reply> GatewayService::Impl::answer(std::string_view path, const Query& query) {
    using PageFunction = std::string (*)();
    static const std::map<std::string_view, PageFunction> pages = {
        {"/", &SitePages::home},
        {"/help.php", &SitePages::help},
        {"/demolive.php", &SitePages::demoLive},
        {"/dl.php", &SitePages::download},
        {"/partner-hosting.php", &SitePages::partnerHosting},
        {"/partner-ssl.php", &SitePages::partnerSsl},
    };
    try {
        if (auto page = pages.find(path); page != pages.end())
            co_return Reply{http::status::ok, htmlType, page->second()};
        if (path == "/tips.php")
            co_return Reply{http::status::ok, htmlType, SitePages::tips(m_tipCount++)};
        if (path == "/version.txt") // compared whole by the program: no line break
            co_return Reply{http::status::ok, textType, std::string(CORVALA_VERSION)};
        // Parameter lists are built before co_await: g++ 12 cannot take braced lists there.
        if (path == "/clients.php") {
            Params params{{"want", "user"}};
            co_return co_await list(query, "listaccts", std::move(params), "acct", "user");
        }
        if (path == "/paks.php")
            co_return co_await list(query, "listpkgs", Params(), "pkg", "name");
        if (path == "/ad.php")
            co_return co_await create(query);
        if (path == "/sus.php")
            co_return co_await accountCommand(query, "suspenduser", "suspendacct", "user",
                                              suspendTexts);
        if (path == "/unsus.php")
            co_return co_await accountCommand(query, "usr", "unsuspendacct", "user",
                                              unsuspendTexts);
        if (path == "/term.php")
            co_return co_await accountCommand(query, "usr", "removeacct", "username",
                                              terminateTexts);
        co_return Reply{http::status::not_found, htmlType, SitePages::notFound()};
    } catch (const std::exception& e) {
        m_log.note(std::string("internal error: ") + e.what());
        std::string reason = std::string("The gateway failed: ") + e.what();
        if (isListPath(path))
            co_return Reply{http::status::bad_gateway, textType, reason};
        co_return Reply{http::status::ok, htmlType,
                        SitePages::commandResult(false, "The request failed", reason)};
    }
}

asio::awaitable<WhmOutcome> GatewayService::Impl::callWhm(const Query& query, std::string function,
                                                          Params params,
                                                          std::chrono::seconds timeout) {
    WhmRequest request = requestOf(query, std::move(function), std::move(params), timeout);
    WhmOutcome outcome = co_await m_whm.call(request);
    if (outcome.result == WhmResult::NotKnown)
        m_log.whmFailure(request.function, request.host, "outcome not known: " + outcome.reason);
    else if (!outcome.done())
        m_log.whmFailure(request.function, request.host, outcome.reason);
    co_return outcome;
}

asio::awaitable<Reply> GatewayService::Impl::list(const Query& query, const char* function,
                                                  Params params, const char* arrayKey,
                                                  const char* nameKey) {
    WhmRequest request = requestOf(query, function, std::move(params), m_options.timeouts.list);
    // The names come joined as they are sent, read as WHM's answer arrived.
    WhmList names = co_await m_whm.callList(request, arrayKey, nameKey);
    // The desktop program treats an error status as a failed fetch, never as a list.
    if (names.status == WhmList::Status::Busy)
        co_return Reply{http::status::service_unavailable, textType, std::move(names.reason)};
    if (!names.ok()) {
        m_log.whmFailure(request.function, request.host, names.reason);
        co_return Reply{http::status::bad_gateway, textType, std::move(names.reason)};
    }
    // One line for them all: a list can hold millions.
    if (names.leftOut > 0)
        m_log.note(std::to_string(names.leftOut) +
                   (names.leftOut == 1 ? " name holding <BR> left out of the "
                                       : " names holding <BR> left out of the ") +
                   function + " list from " + request.host + ", such as " + names.leftOutExample);
    co_return Reply{http::status::ok, textType, std::move(names.body)};
}

Reply GatewayService::Impl::commandReply(const WhmOutcome& outcome, const CommandTexts& texts,
                                         const std::string& account,
                                         const std::string& doneDetail) {
    if (outcome.done())
        return {
            http::status::ok, htmlType,
            SitePages::commandResult(true, std::string(texts.done) + ": " + account, doneDetail)};
    if (outcome.result == WhmResult::NotKnown)
        // WHM had the request and may have acted on it: never reported as a failure.
        return {http::status::ok, htmlType,
                SitePages::commandResult(
                    false, std::string(texts.notKnown) + ": " + account,
                    "WHM received the request, but no complete answer came back (" +
                        outcome.reason + "), so whether the account changed is not known. " +
                        (texts.inClientsList
                             ? "Click \"Refresh All\": the Clients list shows whether it did."
                             : "The Clients list does not show suspensions: look the account up "
                               "in WHM to see whether it changed."))};
    // Refused, or not attempted as the gateway is busy.
    return {outcome.result == WhmResult::Busy ? http::status::service_unavailable
                                              : http::status::ok,
            htmlType,
            SitePages::commandResult(false, std::string(texts.refused) + ": " + account,
                                     outcome.reason)};
}

asio::awaitable<Reply> GatewayService::Impl::create(const Query& query) {
    static constexpr CommandTexts texts{"Account created", "Account not created",
                                        "Account creation not confirmed", true};
    std::string user = valueOf(query, "acctuser");
    std::string domain = valueOf(query, "acctdomain");
    std::string plan = valueOf(query, "acctplan");
    Params params{{"username", user},
                  {"domain", domain},
                  {"password", valueOf(query, "acctpass")},
                  {"plan", plan}};
    WhmOutcome outcome =
        co_await callWhm(query, "createacct", std::move(params), m_options.timeouts.create);
    co_return commandReply(outcome, texts, user,
                           domain + ", package " + plan + ". WHM: " + outcome.reason);
}

asio::awaitable<Reply> GatewayService::Impl::accountCommand(const Query& query,
                                                            const char* accountKey,
                                                            const char* function,
                                                            const char* whmUserKey,
                                                            const CommandTexts& texts) {
    std::string account = valueOf(query, accountKey);
    if (account.empty())
        co_return Reply{http::status::ok, htmlType,
                        SitePages::commandResult(false, texts.refused,
                                                 "No account was named: type a user name or "
                                                 "click one in the Clients list.")};
    Params params{{whmUserKey, account}};
    WhmOutcome outcome =
        co_await callWhm(query, function, std::move(params), m_options.timeouts.command);
    co_return commandReply(outcome, texts, account, "WHM: " + outcome.reason);
}
