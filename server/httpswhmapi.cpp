#include "httpswhmapi.h"

#include "querytext.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/url/url.hpp>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A TLS connection straight on its socket. Its one timer holds the whole call's deadline:
// a timer per read (as a stream with per-operation time limits keeps) would be armed and
// disarmed for every TLS record of a list.
struct HttpsWhmApi::Connection : std::enable_shared_from_this<Connection> {
    Connection(const asio::any_io_executor& executor, asio::ssl::context& tls)
        : stream(executor, tls), timer(executor) {}

    // From now until disarm(), reaching deadline closes the socket, so whatever step of
    // the call is waiting fails at once. Called on the connection's strand, as the timer's
    // handler runs there too.
    void arm(Clock::time_point deadline) {
        timedOut = false;
        armed = ++call;
        timer.expires_at(deadline);
        timer.async_wait([weak = weak_from_this(), call = call](beast::error_code ec) {
            std::shared_ptr<Connection> self = weak.lock();
            // Not this call's deadline any more: the connection may be back in the pool.
            if (ec || !self || self->armed != call)
                return;
            self->timedOut = true;
            beast::error_code ignored;
            self->stream.next_layer().close(ignored);
        });
    }
    void disarm() {
        armed = 0;
        timer.cancel();
    }

    asio::ssl::stream<tcp::socket> stream;
    asio::steady_timer timer;
    std::uint64_t call = 0;
    std::uint64_t armed = 0; // the call whose deadline the timer holds, or 0
    bool timedOut = false;
    beast::flat_buffer buffer; // kept between calls: no regrowing it for every answer
    Clock::time_point idleSince;
};

// Idle kept-alive connections by host name (in lower case: the port and trusted
// certificates are the client's own). A connection is in here only between two complete
// answers, so no two requests ever share one at the same time.
struct HttpsWhmApi::Pool {
    using Key = std::string;
    static constexpr size_t maxIdlePerKey = 32;

    explicit Pool(const asio::any_io_executor& executor) : sweeper(executor) {}

    std::shared_ptr<Connection> take(const Key& key) {
        std::lock_guard lock(mutex);
        auto it = idle.find(key);
        if (it == idle.end() || it->second.empty())
            return nullptr;
        std::shared_ptr<Connection> connection = std::move(it->second.back());
        it->second.pop_back();
        return connection;
    }

    // Called with mutex held: closes the connections idle for longer than limit.
    void dropStale(Clock::duration limit) {
        Clock::time_point now = Clock::now();
        for (auto it = idle.begin(); it != idle.end();) {
            std::erase_if(it->second, [&](const auto& c) { return now - c->idleSince >= limit; });
            it = it->second.empty() ? idle.erase(it) : std::next(it);
        }
    }

    static void put(const std::shared_ptr<Pool>& pool, const Key& key,
                    std::shared_ptr<Connection> connection, Clock::duration limit) {
        std::lock_guard lock(pool->mutex);
        connection->idleSince = Clock::now();
        auto& list = pool->idle[key];
        if (list.size() < maxIdlePerKey)
            list.push_back(std::move(connection));
        if (!pool->sweeping) {
            pool->sweeping = true;
            sweepLater(pool, limit);
        }
    }

    // Called with mutex held. The timer holds the pool only weakly: a pool that is gone
    // has nothing left to sweep.
    static void sweepLater(const std::shared_ptr<Pool>& pool, Clock::duration limit) {
        pool->sweeper.expires_after(limit / 4 + std::chrono::milliseconds(1));
        pool->sweeper.async_wait([weak = std::weak_ptr<Pool>(pool), limit](beast::error_code ec) {
            std::shared_ptr<Pool> pool = weak.lock();
            if (ec || !pool)
                return;
            std::lock_guard lock(pool->mutex);
            pool->dropStale(limit);
            pool->sweeping = !pool->idle.empty();
            if (pool->sweeping)
                sweepLater(pool, limit);
        });
    }

    std::mutex mutex;
    std::map<Key, std::vector<std::shared_ptr<Connection>>> idle;
    asio::steady_timer sweeper;
    bool sweeping = false;
    std::uint64_t opened = 0;
};

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string seconds(Clock::duration d) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) : std::to_string(double(ms) / 1000.0);
}

// A strand for one connection. On an io_context's own executor rather than on the
// type-erased one: every operation asks its strand for work tracking, and through two
// layers of type erasure that costs more than reading a TLS record.
asio::any_io_executor strandOf(const asio::any_io_executor& executor) {
    if (const auto* plain = executor.target<asio::io_context::executor_type>())
        return asio::make_strand(*plain);
    return asio::make_strand(executor);
}

// Looks the host up within the deadline. A look-up cannot be stopped once begun, so it
// runs on beside the call, which stops waiting for it at the deadline.
asio::awaitable<std::vector<tcp::endpoint>> resolveWithin(asio::any_io_executor executor,
                                                          std::string host, std::string port,
                                                          Clock::time_point deadline) {
    struct Lookup {
        explicit Lookup(const asio::any_io_executor& strand) : wake(strand) {}
        asio::steady_timer wake;
        bool done = false;
        beast::error_code ec;
        std::vector<tcp::endpoint> endpoints;
    };
    // Both halves on one strand: they share the lookup's state.
    asio::any_io_executor strand = asio::make_strand(executor);
    auto race = [strand, host, port, deadline]() -> asio::awaitable<std::vector<tcp::endpoint>> {
        auto lookup = std::make_shared<Lookup>(strand);
        asio::co_spawn(
            strand,
            [lookup, strand, host, port]() -> asio::awaitable<void> {
                tcp::resolver resolver(strand);
                auto results = co_await resolver.async_resolve(
                    host, port, asio::redirect_error(asio::use_awaitable, lookup->ec));
                for (const auto& result : results)
                    lookup->endpoints.push_back(result.endpoint());
                lookup->done = true;
                lookup->wake.cancel();
            },
            asio::detached);
        lookup->wake.expires_at(deadline);
        beast::error_code ignored;
        co_await lookup->wake.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
        if (!lookup->done)
            throw WhmError("The WHM host " + host + " could not be looked up in the time allowed");
        if (lookup->ec)
            throw WhmError("The WHM host " + host + " could not be found (" + lookup->ec.message() +
                           ")");
        co_return std::move(lookup->endpoints);
    };
    co_return co_await asio::co_spawn(strand, std::move(race), asio::use_awaitable);
}

} // namespace

HttpsWhmApi::HttpsWhmApi(asio::any_io_executor executor, Options options)
    : m_executor(std::move(executor)), m_options(std::move(options)),
      m_policy(m_options.allowedHosts), m_tls(asio::ssl::context::tls_client),
      m_pool(std::make_shared<Pool>(m_executor)) {
    m_tls.set_verify_mode(asio::ssl::verify_peer);
    m_tls.set_options(asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                      asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    beast::error_code ec;
    if (m_options.caFile.empty())
        m_tls.set_default_verify_paths(ec);
    else
        m_tls.load_verify_file(m_options.caFile, ec);
    if (ec)
        m_tlsError = "The trusted certificates could not be loaded" +
                     (m_options.caFile.empty() ? std::string() : " from " + m_options.caFile);
}

HttpsWhmApi::~HttpsWhmApi() {
    std::lock_guard lock(m_pool->mutex);
    m_pool->idle.clear();
    m_pool->sweeper.cancel();
}

std::uint64_t HttpsWhmApi::connectionsOpened() const {
    std::lock_guard lock(m_pool->mutex);
    return m_pool->opened;
}

std::string HttpsWhmApi::pathFor(const WhmRequest& request) {
    // Every byte outside the unreserved set is encoded: WHM reads '+' as a blank.
    boost::urls::url url;
    url.set_encoded_path("/json-api/" + percentEncode(request.function));
    auto params = url.encoded_params();
    params.append({"api.version", "1"});
    for (const auto& [key, value] : request.params)
        params.append({percentEncode(key), percentEncode(value)});
    return std::string(url.encoded_target());
}

asio::awaitable<void> HttpsWhmApi::connect(Connection& connection, const std::string& host,
                                           Clock::time_point deadline) {
    const std::string where = host + ":" + std::to_string(m_options.port);
    tcp::socket& socket = connection.stream.next_layer();
    auto onError = [](beast::error_code& ec) {
        return asio::redirect_error(asio::use_awaitable, ec);
    };

    beast::error_code ec;
    std::vector<tcp::endpoint> endpoints;
    asio::ip::address literal = asio::ip::make_address(host, ec);
    bool isAddress = !ec;
    if (isAddress) {
        endpoints.emplace_back(literal, static_cast<unsigned short>(m_options.port));
    } else {
        endpoints =
            co_await resolveWithin(m_executor, host, std::to_string(m_options.port), deadline);
    }
    if (Clock::now() >= deadline || connection.timedOut)
        throw WhmError("No connection to WHM at " + where + " in the time allowed");
    // Every address it leads to is checked, so a name cannot smuggle in a local one.
    for (const tcp::endpoint& endpoint : endpoints)
        if (std::string refusal = m_policy.refusalOfAddress(host, endpoint.address());
            !refusal.empty())
            throw WhmError(refusal);

    // Each address in turn, until one answers or the deadline (which closes the socket).
    ec = asio::error::host_not_found;
    for (const tcp::endpoint& endpoint : endpoints) {
        beast::error_code ignored;
        socket.close(ignored);
        co_await socket.async_connect(endpoint, onError(ec));
        if (!ec || connection.timedOut)
            break;
    }
    if (connection.timedOut)
        throw WhmError("No connection to WHM at " + where + " in the time allowed");
    if (ec)
        throw WhmError("Could not connect to WHM at " + where + " (" + ec.message() + ")");
    socket.set_option(tcp::no_delay(true), ec);

    // The certificate must hold the name or address asked for; names also go out as SNI.
    // Unset, any trusted certificate would do: a failure here ends the call.
    SSL* ssl = connection.stream.native_handle();
    const bool nameSet =
        isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1
                  : SSL_set_tlsext_host_name(ssl, host.c_str()) && SSL_set1_host(ssl, host.c_str());
    if (!nameSet)
        throw WhmError("No secure connection to WHM at " + where);

    co_await connection.stream.async_handshake(asio::ssl::stream_base::client, onError(ec));
    if (ec) {
        long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
            throw WhmError("The certificate of WHM at " + where + " is not trusted (" +
                           X509_verify_cert_error_string(verify) + ")");
        if (connection.timedOut)
            throw WhmError("No secure connection to WHM at " + where + " in the time allowed");
        throw WhmError("No secure connection to WHM at " + where + " (" + ec.message() + ")");
    }
    {
        std::lock_guard lock(m_pool->mutex);
        ++m_pool->opened;
    }
}

asio::awaitable<WhmResponse> HttpsWhmApi::send(const WhmRequest& request) {
    if (!m_tlsError.empty())
        throw WhmError(m_tlsError);
    // Before any look-up or connection.
    if (std::string refusal = m_policy.refusalOfName(request.host); !refusal.empty())
        throw WhmError(refusal);

    const Clock::time_point deadline = Clock::now() + request.timeout;
    const std::string where = request.host + ":" + std::to_string(m_options.port);
    http::request<http::empty_body> message{http::verb::get, pathFor(request), 11};
    message.set(http::field::host, m_options.port == 443 ? request.host : where);
    // A CR or LF in a header would let the sender add headers of its own.
    message.set(http::field::authorization, "whm " + whmKeyWithoutLineBreaks(request.user) + ":" +
                                                whmKeyWithoutLineBreaks(request.key));
    message.set(http::field::user_agent, "corvala-gateway/" CORVALA_VERSION);
    message.keep_alive(true);

    const Pool::Key key = lower(request.host);
    for (bool firstAttempt = true;; firstAttempt = false) {
        std::shared_ptr<Connection> connection = firstAttempt ? m_pool->take(key) : nullptr;
        const bool reused = connection != nullptr;
        if (!connection)
            connection = std::make_shared<Connection>(strandOf(m_executor), m_tls);
        // Each connection's I/O and its deadline timer run on its own strand, whatever
        // executor the caller runs on.
        Exchange result = co_await asio::co_spawn(
            connection->stream.get_executor(),
            exchange(*connection, reused, request, message, deadline), asio::use_awaitable);
        if (result.retry)
            continue;
        if (result.reusable)
            Pool::put(m_pool, key, std::move(connection), m_options.idleLimit);
        co_return std::move(result.response);
    }
}

asio::awaitable<HttpsWhmApi::Exchange>
HttpsWhmApi::exchange(Connection& connection, bool reused, const WhmRequest& request,
                      const http::request<http::empty_body>& message, Clock::time_point deadline) {
    const std::string where = request.host + ":" + std::to_string(m_options.port);
    // One deadline for the whole call, from connecting to the answer's last byte.
    connection.arm(deadline);
    struct Disarm {
        Connection& c;
        ~Disarm() { c.disarm(); }
    } disarm{connection};
    if (!reused)
        co_await connect(connection, request.host, deadline);

    beast::error_code ec;
    beast::flat_buffer& buffer = connection.buffer;
    buffer.clear();
    http::response_parser<http::string_body> parser;
    parser.body_limit(m_options.maxAnswerBytes);
    parser.header_limit(64 * 1024);
    co_await http::async_write(connection.stream, message,
                               asio::redirect_error(asio::use_awaitable, ec));
    if (!ec)
        co_await http::async_read(connection.stream, buffer, parser,
                                  asio::redirect_error(asio::use_awaitable, ec));
    if (connection.timedOut)
        ec = beast::error::timeout;
    if (ec) {
        // A kept-alive connection WHM closed meanwhile: try once more on a new one, but
        // only if nothing of the answer came (else the request may have been acted on
        // and its answer lost).
        if (reused && ec != beast::error::timeout && !parser.got_some() && buffer.size() == 0)
            co_return Exchange{true, false, {}};
        if (ec == beast::error::timeout)
            throw WhmError("WHM at " + where + " gave no complete answer within " +
                           seconds(request.timeout) + " s");
        if (ec == http::error::body_limit)
            throw WhmError("WHM's answer from " + where + " is larger than " +
                           std::to_string(m_options.maxAnswerBytes / (1024 * 1024)) + " MiB");
        throw WhmError("The request to WHM at " + where + " failed (" + ec.message() + ")");
    }
    http::response<http::string_body>& response = parser.get();
    // Only a complete answer with nothing after it leaves the connection fit to reuse.
    const bool reusable = response.keep_alive() && parser.is_done() && buffer.size() == 0;
    // A list's worth of buffer is kept; an outsized one goes with its answer.
    if (buffer.capacity() > 256 * 1024)
        buffer = beast::flat_buffer();
    co_return Exchange{
        false, reusable,
        WhmResponse{static_cast<int>(response.result_int()), std::move(response.body())}};
}
