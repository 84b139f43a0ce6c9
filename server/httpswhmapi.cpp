#include "httpswhmapi.h"

#include "querytext.h"
#include "whmanswerreader.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/url/url.hpp>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// What one connection reads into: a whole header section, chunk line or trailer section
// must fit, so none of them can grow beyond it.
constexpr std::size_t readBufferBytes = 64 * 1024;
constexpr std::uint32_t headerLimit = 16 * 1024;

} // namespace

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

    // Nothing has come since the last answer: no byte or close on the socket, none in the
    // TLS layer's buffers, none read ahead.
    bool quiet() {
        SSL* ssl = stream.native_handle();
        if (stale || buffer.size() > 0 || SSL_has_pending(ssl) ||
            BIO_ctrl_pending(SSL_get_rbio(ssl)) > 0)
            return false;
        pollfd idle{stream.next_layer().native_handle(), POLLIN, 0};
        return ::poll(&idle, 1, 0) == 0;
    }

    asio::ssl::stream<tcp::socket> stream;
    asio::steady_timer timer;
    std::uint64_t call = 0;
    std::uint64_t armed = 0; // the call whose deadline the timer holds, or 0
    bool timedOut = false;
    // Set when anything reaches the connection while it waits in the pool.
    std::atomic<bool> stale{false};
    beast::flat_buffer buffer{readBufferBytes}; // kept between calls
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

    void remove(const Key& key, const Connection* connection) {
        std::lock_guard lock(mutex);
        auto it = idle.find(key);
        if (it != idle.end())
            std::erase_if(it->second, [&](const auto& c) { return c.get() == connection; });
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
        // Reached while on its way here: it never goes in.
        if (connection->stale)
            return;
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

    // Watches an idle connection without reading it (a wait on the raw socket leaves the
    // TLS state alone): whatever arrives before its next call (stray bytes, a second
    // answer, a close) means it is no longer in step with WHM, and it goes. Called on the
    // connection's strand; taking it back for a call cancels the wait.
    static void watch(const std::shared_ptr<Pool>& pool, const Key& key,
                      const std::shared_ptr<Connection>& connection) {
        connection->stream.next_layer().async_wait(
            tcp::socket::wait_read,
            [weakPool = std::weak_ptr<Pool>(pool), key,
             weak = std::weak_ptr<Connection>(connection)](beast::error_code ec) {
                std::shared_ptr<Connection> connection = weak.lock();
                if (ec == asio::error::operation_aborted || !connection)
                    return;
                connection->stale = true;
                if (std::shared_ptr<Pool> pool = weakPool.lock())
                    pool->remove(key, connection.get());
            });
    }

    std::mutex mutex;
    std::map<Key, std::vector<std::shared_ptr<Connection>>> idle;
    asio::steady_timer sweeper;
    bool sweeping = false;
    std::uint64_t opened = 0;
};

// One call as its attempts see it.
struct HttpsWhmApi::Call {
    const WhmRequest& request;
    http::request<http::empty_body> message;
    WhmAnswerReader& reader;
    Clock::time_point deadline;
    std::uint64_t cap; // bytes of one answer
    std::string where; // host:port, for the reasons
    Pool::Key key;     // where its connection waits between calls
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

std::string sizeText(std::uint64_t bytes) {
    return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                   : std::to_string(bytes >> 10) + " KiB";
}

// A strand for one connection. On an io_context's own executor rather than on the
// type-erased one: every operation asks its strand for work tracking, and through two
// layers of type erasure that costs more than reading a TLS record.
asio::any_io_executor strandOf(const asio::any_io_executor& executor) {
    if (const auto* plain = executor.target<asio::io_context::executor_type>())
        return asio::make_strand(*plain);
    return asio::make_strand(executor);
}

// Reads one HTTP answer's framing and hands its body to the answer reader, keeping none
// of its header fields or trailers: only the status and whether the connection may stay.
class AnswerParser : public http::basic_parser<false> {
public:
    AnswerParser(WhmAnswerReader& reader, std::uint64_t cap) : m_reader(reader) {
        eager(true);
        header_limit(headerLimit);
        body_limit(cap);
    }

    int status = 0;
    bool stopped = false; // the reader needed no more of the body

    // 100 Continue, 103 Early Hints and the like: another answer follows.
    bool interim() const { return status / 100 == 1; }

private:
    void on_request_impl(http::verb, beast::string_view, beast::string_view, int,
                         beast::error_code&) override {}
    void on_response_impl(int code, beast::string_view, int, beast::error_code&) override {
        status = code;
    }
    void on_field_impl(http::field, beast::string_view, beast::string_view,
                       beast::error_code&) override {}
    void on_header_impl(beast::error_code&) override {
        if (!interim())
            m_reader.begin(status);
    }
    void on_body_init_impl(const boost::optional<std::uint64_t>&, beast::error_code&) override {}
    std::size_t on_body_impl(beast::string_view body, beast::error_code&) override {
        take(body);
        return body.size();
    }
    void on_chunk_header_impl(std::uint64_t, beast::string_view, beast::error_code&) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view body,
                                   beast::error_code&) override {
        take(body);
        return body.size();
    }
    void on_finish_impl(beast::error_code&) override {}

    void take(beast::string_view body) {
        if (!stopped && !m_reader.write(std::string_view(body.data(), body.size())))
            stopped = true;
    }

    WhmAnswerReader& m_reader;
};

bool isEndOfStream(const beast::error_code& ec) {
    return ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
}

} // namespace

HttpsWhmApi::HttpsWhmApi(asio::any_io_executor executor, Options options)
    : m_executor(std::move(executor)), m_options(std::move(options)),
      m_policy(m_options.allowedHosts),
      m_budget(m_options.maxCallsInFlight, m_options.maxBytesInFlight),
      m_resolver(m_options.lookupThreads, m_options.lookup), m_tls(asio::ssl::context::tls_client),
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

asio::awaitable<void> HttpsWhmApi::connect(Connection& connection, const Call& call) {
    const std::string& host = call.request.host;
    tcp::socket& socket = connection.stream.next_layer();
    auto onError = [](beast::error_code& ec) {
        return asio::redirect_error(asio::use_awaitable, ec);
    };

    beast::error_code ec;
    std::vector<asio::ip::address> addresses;
    asio::ip::address literal = asio::ip::make_address(host, ec);
    const bool isAddress = !ec;
    if (isAddress)
        addresses.push_back(literal);
    else
        addresses = co_await m_resolver.resolve(host, call.deadline);
    if (Clock::now() >= call.deadline || connection.timedOut)
        throw WhmError(WhmResult::Refused,
                       "No connection to WHM at " + call.where + " in the time allowed");
    // Every address it leads to is checked, so a name cannot smuggle in a local one.
    for (const asio::ip::address& address : addresses)
        if (std::string refusal = m_policy.refusalOfAddress(host, address); !refusal.empty())
            throw WhmError(WhmResult::Refused, refusal);

    // Each address in turn, until one answers or the deadline (which closes the socket).
    ec = asio::error::host_not_found;
    for (const asio::ip::address& address : addresses) {
        beast::error_code ignored;
        socket.close(ignored);
        co_await socket.async_connect({address, static_cast<unsigned short>(m_options.port)},
                                      onError(ec));
        if (!ec || connection.timedOut || ec == asio::error::operation_aborted)
            break;
    }
    if (connection.timedOut)
        throw WhmError(WhmResult::Refused,
                       "No connection to WHM at " + call.where + " in the time allowed");
    if (ec)
        throw WhmError(WhmResult::Refused,
                       "Could not connect to WHM at " + call.where + " (" + ec.message() + ")");
    socket.set_option(tcp::no_delay(true), ec);

    // The certificate must hold the name or address asked for; names also go out as SNI.
    // Unset, any trusted certificate would do: a failure here ends the call.
    SSL* ssl = connection.stream.native_handle();
    const bool nameSet =
        isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1
                  : SSL_set_tlsext_host_name(ssl, host.c_str()) && SSL_set1_host(ssl, host.c_str());
    if (!nameSet)
        throw WhmError(WhmResult::Refused, "No secure connection to WHM at " + call.where);

    co_await connection.stream.async_handshake(asio::ssl::stream_base::client, onError(ec));
    if (ec) {
        long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
            throw WhmError(WhmResult::Refused, "The certificate of WHM at " + call.where +
                                                   " is not trusted (" +
                                                   X509_verify_cert_error_string(verify) + ")");
        if (connection.timedOut)
            throw WhmError(WhmResult::Refused,
                           "No secure connection to WHM at " + call.where + " in the time allowed");
        throw WhmError(WhmResult::Refused,
                       "No secure connection to WHM at " + call.where + " (" + ec.message() + ")");
    }
    {
        std::lock_guard lock(m_pool->mutex);
        ++m_pool->opened;
    }
}

asio::awaitable<void> HttpsWhmApi::send(const WhmRequest& request, const std::string& authorization,
                                        WhmCallKind kind, WhmAnswerReader& reader) {
    if (!m_tlsError.empty())
        throw WhmError(WhmResult::Refused, m_tlsError);
    // Before any look-up or connection.
    if (std::string refusal = m_policy.refusalOfName(request.host); !refusal.empty())
        throw WhmError(WhmResult::Refused, refusal);
    std::string busy;
    std::optional<WhmBudget::Ticket> ticket = m_budget.admit(readBufferBytes, busy);
    if (!ticket)
        throw WhmError(WhmResult::Busy, busy);
    reader.chargeTo(&*ticket);
    struct Uncharge {
        WhmAnswerReader& reader;
        ~Uncharge() { reader.chargeTo(nullptr); }
    } uncharge{reader};

    const std::string where = request.host + ":" + std::to_string(m_options.port);
    Call call{request,
              {http::verb::get, pathFor(request), 11},
              reader,
              Clock::now() + request.timeout,
              kind == WhmCallKind::List ? m_options.maxListAnswerBytes
                                        : m_options.maxCommandAnswerBytes,
              where,
              lower(request.host)};
    call.message.set(http::field::host, m_options.port == 443 ? request.host : where);
    call.message.set(http::field::authorization, authorization);
    call.message.set(http::field::user_agent, "corvala-gateway/" CORVALA_VERSION);
    call.message.keep_alive(true);

    bool retried = false;
    for (;;) {
        // A command never takes a kept connection: one WHM dropped meanwhile would leave
        // it not knowing whether WHM had it, and it is never sent twice.
        std::shared_ptr<Connection> connection =
            kind == WhmCallKind::List && !retried ? m_pool->take(call.key) : nullptr;
        const bool reused = connection != nullptr;
        if (!connection)
            connection = std::make_shared<Connection>(strandOf(m_executor), m_tls);
        // Each connection's I/O and its deadline timer run on its own strand, whatever
        // executor the caller runs on; a cancellation of the call follows it there.
        Attempt attempt =
            co_await asio::co_spawn(connection->stream.get_executor(),
                                    exchange(*connection, reused, call), asio::use_awaitable);
        switch (attempt) {
        case Attempt::Stale: // nothing was sent on it: the next one
            continue;
        case Attempt::Retry:
            retried = true;
            continue;
        case Attempt::Reusable:
            Pool::put(m_pool, call.key, std::move(connection), m_options.idleLimit);
            co_return;
        case Attempt::Answered:
            co_return;
        }
    }
}

asio::awaitable<HttpsWhmApi::Attempt> HttpsWhmApi::exchange(Connection& connection, bool reused,
                                                            const Call& call) {
    asio::cancellation_state cancellation = co_await asio::this_coro::cancellation_state;
    auto cancelled = [&] { return cancellation.cancelled() != asio::cancellation_type::none; };
    tcp::socket& socket = connection.stream.next_layer();
    if (reused) {
        beast::error_code ignored;
        socket.cancel(ignored); // ends its watch in the pool
        if (!connection.quiet())
            co_return Attempt::Stale;
    }
    // One deadline for the whole call, from connecting to the answer's last byte.
    connection.arm(call.deadline);
    struct Disarm {
        Connection& c;
        ~Disarm() { c.disarm(); }
    } disarm{connection};

    bool sent = false;
    std::uint64_t received = 0;
    // Once the request went out, WHM may have acted on it whatever happens next.
    auto failure = [&](const std::string& reason) {
        return WhmError(sent ? WhmResult::NotKnown : WhmResult::Refused, reason);
    };
    auto failed = [&](beast::error_code ec) {
        if (cancelled())
            return failure("The call to WHM at " + call.where + " was cancelled");
        if (connection.timedOut)
            return failure("WHM at " + call.where + " gave no complete answer within " +
                           seconds(call.request.timeout) + " s");
        if (received > call.cap || ec == http::error::body_limit)
            return failure("WHM's answer from " + call.where + " is larger than " +
                           sizeText(call.cap));
        if (isEndOfStream(ec) || ec == http::error::partial_message)
            return failure("WHM at " + call.where +
                           " closed the connection before its answer was complete");
        return failure("The request to WHM at " + call.where + " failed (" + ec.message() + ")");
    };

    try {
        if (!reused)
            co_await connect(connection, call);
        beast::error_code ec;
        sent = true;
        co_await http::async_write(connection.stream, call.message,
                                   asio::redirect_error(asio::use_awaitable, ec));

        beast::flat_buffer& buffer = connection.buffer;
        buffer.clear();
        std::optional<AnswerParser> parser;
        parser.emplace(call.reader, call.cap);
        while (!ec) {
            // Everything read so far, answer by answer: interim ones are read past.
            while (buffer.size() > 0 && !parser->is_done() && !parser->stopped) {
                std::size_t used = parser->put(buffer.data(), ec);
                buffer.consume(used);
                if (ec == http::error::need_more) {
                    ec = {};
                    break;
                }
                if (ec)
                    break;
                if (parser->is_done() && parser->status == 101)
                    throw failure("WHM at " + call.where +
                                  " answered 101 Switching Protocols to a plain request");
                if (parser->is_done() && parser->interim())
                    parser.emplace(call.reader, call.cap);
            }
            if (ec || parser->is_done() || parser->stopped)
                break;
            if (buffer.size() == buffer.max_size())
                throw failure("WHM's answer from " + call.where + " holds a line longer than " +
                              sizeText(readBufferBytes));
            std::size_t n = co_await connection.stream.async_read_some(
                buffer.prepare(buffer.max_size() - buffer.size()),
                asio::redirect_error(asio::use_awaitable, ec));
            buffer.commit(n);
            received += n;
            if (received > call.cap)
                throw failed(ec);
            if (isEndOfStream(ec) && parser->got_some() && !connection.timedOut) {
                // An answer that ends with its connection is complete only there.
                beast::error_code eof;
                parser->put_eof(eof);
                ec = eof ? eof : ec;
                if (!eof)
                    break;
            }
        }
        if (call.reader.overBudget())
            throw WhmError(WhmResult::Busy, m_budget.fullRefusal());
        if (parser->stopped) // the reader has its verdict: the rest is not read
            co_return Attempt::Answered;
        if (!parser->is_done()) {
            // A kept-alive connection WHM closed meanwhile: a list tries once more on a new
            // one, but only if nothing of the answer came.
            if (reused && received == 0 && !connection.timedOut && !cancelled())
                co_return Attempt::Retry;
            throw failed(ec);
        }
        call.reader.end();
        // Only a complete answer that asked to stay, with nothing after it, leaves the
        // connection in step with WHM.
        if (!parser->keep_alive() || !connection.quiet())
            co_return Attempt::Answered;
        Pool::watch(m_pool, call.key, connection.shared_from_this());
        co_return Attempt::Reusable;
    } catch (const boost::system::system_error& e) {
        // An operation begun after the call was cancelled.
        throw failed(e.code());
    }
}
