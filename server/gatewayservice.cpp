#include "gatewayservice.h"

#include "addressslots.h"
#include "clientwatch.h"
#include "gatewaymetrics.h"
#include "proxyheader.h"
#include "servertls.h"
#include "servicecontext.h"
#include "systemdnotify.h"
#include "taskgroup.h"
#include "trustedproxies.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
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

constexpr auto tuple = asio::as_tuple(asio::use_awaitable);
using Buffer = beast::basic_flat_buffer<WipingAllocator<char>>;
// A session's own cancellation: the stop emits it, and so does a client that goes away.
using CancellationSignal = std::shared_ptr<asio::cancellation_signal>;

// The status for a request that could not be read, or none when the connection is simply
// over (closed, timed out, cancelled).
std::optional<http::status> refusalFor(const beast::error_code& ec) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return http::status::request_header_fields_too_large;
    if (ec == http::error::body_limit)
        return http::status::payload_too_large;
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::eof ||
        ec == asio::error::connection_reset || ec == asio::error::operation_aborted ||
        ec == ssl::error::stream_truncated)
        return std::nullopt;
    return http::status::bad_request;
}

// Writes message as the client takes it: the no-progress limit runs anew for every piece
// the socket takes, so a slow reader gets the whole answer and a stalled one none.
template <class Stream>
asio::awaitable<beast::error_code> writeAnswer(Stream& stream,
                                               http::response<http::string_body>& message,
                                               std::chrono::milliseconds stall) {
    http::response_serializer<http::string_body> serializer(message);
    beast::error_code ec;
    while (!ec && !serializer.is_done()) {
        beast::get_lowest_layer(stream).expires_after(stall);
        co_await http::async_write_some(stream, serializer,
                                        asio::redirect_error(asio::use_awaitable, ec));
    }
    co_return ec;
}

// The interim answer a half-closed client reads past, written without waiting: the
// socket's send queue is empty when the watch asks, so it goes out whole at once.
bool writeProbe(beast::tcp_stream& stream) {
    beast::error_code ec;
    stream.socket().write_some(asio::buffer(ClientWatch::processing), ec);
    return !ec;
}
bool writeProbe(beast::ssl_stream<beast::tcp_stream>& stream) {
    beast::error_code ec;
    stream.write_some(asio::buffer(ClientWatch::processing), ec);
    return !ec;
}

asio::awaitable<void> closeGracefully(beast::tcp_stream& stream) {
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    co_return;
}
asio::awaitable<void> closeGracefully(beast::ssl_stream<beast::tcp_stream>& stream) {
    stream.next_layer().expires_after(std::chrono::seconds(2));
    co_await stream.async_shutdown(tuple);
}

} // namespace

struct GatewayService::Impl {
    Impl(ServiceContext& context, WhmApi& whm, RequestLog& log, Options options)
        : m_ioc(context),
          m_handler(whm, {options.timeouts, options.limits.whmCallsPerAddress}, &log, &m_metrics),
          m_log(log), m_options(std::move(options)),
          m_slots(m_options.limits.maxConnectionsPerAddress, m_options.limits.maxConnections) {
        m_metrics.connections = &m_slots;
        for (const std::string& proxy : m_options.trustedProxies)
            m_proxies.add(proxy);
    }

    // A session waiting for a request's first byte: the first thing a graceful stop ends.
    // Whether it still waits is asked on its own strand, where the mark lives and goes.
    struct Idle {
        asio::any_io_executor executor;
        CancellationSignal cancel;
        std::shared_ptr<bool> waiting;
    };
    class IdleMark {
    public:
        IdleMark(Impl& impl, const asio::any_io_executor& executor,
                 const CancellationSignal& cancel)
            : m_impl(impl), m_waiting(std::make_shared<bool>(true)) {
            std::lock_guard lock(impl.m_idleMutex);
            m_entry = impl.m_idle.insert(impl.m_idle.end(), Idle{executor, cancel, m_waiting});
        }
        ~IdleMark() {
            *m_waiting = false;
            std::lock_guard lock(m_impl.m_idleMutex);
            m_impl.m_idle.erase(m_entry);
        }

    private:
        Impl& m_impl;
        std::shared_ptr<bool> m_waiting;
        std::list<Idle>::iterator m_entry;
    };

    asio::awaitable<void> acceptLoop();
    void refuse(tcp::socket& socket);
    asio::awaitable<void> serveConnection(beast::tcp_stream stream, AddressSlots::Slot slot,
                                          std::string peer, CancellationSignal cancel);
    asio::awaitable<ProxyHeader> readProxyHeader(beast::tcp_stream& stream, Buffer& buffer,
                                                 const CancellationSignal& cancel);
    asio::awaitable<void> answerAndClose(beast::tcp_stream& stream, Buffer& buffer,
                                         http::status status, std::string_view text,
                                         const std::string& client);
    template <class Stream>
    asio::awaitable<void> session(Stream& stream, Buffer& buffer, AddressSlots::Slot& slot,
                                  const std::string& client, bool forwardedFor,
                                  const CancellationSignal& cancel);
    void closeIdleSessions();
    asio::awaitable<void> stopWhenDone(std::chrono::milliseconds grace);
    asio::awaitable<void> feedWatchdog();
    std::size_t sessionsLeft() const { return m_tasks.size(); }
    std::size_t tasksLeft() const { return m_tasks.size() + m_handler.commandsInFlight(); }

    ServiceContext& m_ioc;
    GatewayMetrics m_metrics;
    GatewayHandler m_handler;
    RequestLog& m_log;
    Options m_options;
    AddressSlots m_slots;
    TrustedProxies m_proxies;
    TaskGroup m_tasks; // the accept loop and the sessions
    std::mutex m_idleMutex;
    std::list<Idle> m_idle;
    std::string m_bindError;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::optional<ServerTls> m_tls;
    asio::strand<asio::io_context::executor_type> m_acceptStrand{m_ioc.get_executor()};
    tcp::acceptor m_acceptor{m_acceptStrand};
};

GatewayService::GatewayService(ServiceContext& context, WhmApi& whm, RequestLog& log,
                               Options options)
    : m_impl(std::make_unique<Impl>(context, whm, log, std::move(options))) {}

GatewayService::~GatewayService() = default;

int GatewayService::bind(const std::string& host, int port) {
    Impl& d = *m_impl;
    if (!d.m_options.tlsCertificateFile.empty() || !d.m_options.tlsKeyFile.empty()) {
        d.m_tls.emplace(d.m_options.tlsCertificateFile, d.m_options.tlsKeyFile);
        if (std::string why = d.m_tls->load(); !why.empty()) {
            d.m_tls.reset();
            throw std::runtime_error(why);
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
    if (ec == asio::error::address_in_use)
        d.m_bindError = ec.message() + ": another program listens there (ss -ltnp shows which)";
    else if (!ec)
        d.m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (d.m_bindError.empty())
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
    asio::dispatch(d.m_acceptStrand, [&d] {
        asio::co_spawn(d.m_acceptStrand, d.acceptLoop(),
                       d.m_tasks.adapt(d.m_acceptStrand, asio::detached));
    });
    if (d.m_options.watchdog.count() > 0)
        asio::co_spawn(d.m_ioc, d.feedWatchdog(), asio::detached);
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
    if (std::size_t left = d.tasksLeft(); left > 0) {
        d.m_log.note("stopping: " + std::to_string(left) +
                     " connections or WHM calls ignored the stop; dropped");
        d.m_ioc.dropPendingWork();
    }
    d.m_running = false;
    return true;
}

void GatewayService::stop(std::chrono::milliseconds grace) {
    Impl& d = *m_impl;
    if (d.m_stopping.exchange(true))
        return;
    // New connections are refused from now on: the listener goes at once.
    asio::dispatch(d.m_acceptStrand, [&d] {
        boost::system::error_code ignored;
        d.m_acceptor.close(ignored);
    });
    d.closeIdleSessions();
    asio::co_spawn(d.m_ioc, d.stopWhenDone(grace), asio::detached);
}

bool GatewayService::isRunning() const {
    return m_impl->m_running;
}

std::string GatewayService::reload() {
    Impl& d = *m_impl;
    std::string why;
    if (d.m_tls)
        why = d.m_tls->load();
    if (std::string trust = d.m_handler.whm().reloadTrust(); !trust.empty())
        why += (why.empty() ? "" : "; ") + trust;
    return why;
}

void GatewayService::Impl::closeIdleSessions() {
    std::lock_guard lock(m_idleMutex);
    for (const Idle& idle : m_idle)
        asio::post(idle.executor, [cancel = idle.cancel, waiting = idle.waiting] {
            if (*waiting)
                cancel->emit(asio::cancellation_type::terminal);
        });
}

// Requests under way have their grace; then whatever is left is cancelled, and has the
// stop's own grace to end.
asio::awaitable<void> GatewayService::Impl::stopWhenDone(std::chrono::milliseconds grace) {
    asio::steady_timer pause(m_ioc);
    auto waitWhile = [&](auto left, std::chrono::milliseconds span) -> asio::awaitable<void> {
        const auto deadline = std::chrono::steady_clock::now() + span;
        while (left() > 0 && std::chrono::steady_clock::now() < deadline) {
            pause.expires_after(std::chrono::milliseconds(5));
            co_await pause.async_wait(tuple);
        }
    };
    co_await waitWhile([this] { return sessionsLeft(); }, grace);
    m_handler.stop();
    m_tasks.cancelAll();
    co_await waitWhile([this] { return tasksLeft(); }, m_options.limits.stopGrace);
    // The WHM client's pool sweeper and the like would keep the context running.
    m_ioc.stop();
}

asio::awaitable<void> GatewayService::Impl::feedWatchdog() {
    asio::steady_timer timer(m_ioc);
    for (;;) {
        SystemdNotify::watchdog();
        timer.expires_after(m_options.watchdog / 2);
        auto [ec] = co_await timer.async_wait(tuple);
        if (ec)
            co_return;
    }
}

asio::awaitable<void> GatewayService::Impl::acceptLoop() {
    asio::steady_timer pause(m_acceptStrand);
    // Failures since the last note about them, and when that note was written.
    std::size_t failures = 0;
    auto lastNote = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    for (;;) {
        auto [ec, accepted] = co_await m_acceptor.async_accept(asio::make_strand(m_ioc), tuple);
        tcp::socket socket(std::move(accepted));
        if (ec == asio::error::operation_aborted || m_stopping)
            break;
        if (ec) {
            // Out of file descriptors and the like: the waiting connections stay queued
            // while accepting pauses, rather than failing over and over. Said at most
            // once a second.
            ++failures;
            if (auto now = std::chrono::steady_clock::now();
                now - lastNote >= std::chrono::seconds(1)) {
                m_log.note("accepting connections paused: " + ec.message() + " (" +
                           std::to_string(failures) + (failures == 1 ? " time" : " times") +
                           " since the last note)");
                lastNote = now;
                failures = 0;
            }
            pause.expires_after(std::chrono::milliseconds(100));
            co_await pause.async_wait(tuple);
            continue;
        }
        boost::system::error_code ignored;
        std::string peer = socket.remote_endpoint(ignored).address().to_string();
        // A trusted proxy speaks for many clients: only the total cap counts for it, and
        // the client it names counts once its PROXY header is read.
        AddressSlots::Cap cap = AddressSlots::Cap::Total;
        std::optional<AddressSlots::Slot> slot =
            m_slots.take(peer, &cap, !m_proxies.contains(peer));
        if (!slot) {
            m_metrics.countRefusedConnection(cap == AddressSlots::Cap::Total
                                                 ? GatewayMetrics::Cap::Total
                                                 : GatewayMetrics::Cap::PerAddress);
            refuse(socket);
            continue;
        }
        // Small answers on kept-alive connections must not wait for a delayed ACK.
        socket.set_option(tcp::no_delay(true), ignored);
        // Started on its own strand, where the stop's cancellation will reach it.
        auto executor = socket.get_executor();
        asio::dispatch(executor, [this, executor, socket = std::move(socket),
                                  slot = std::move(*slot), peer = std::move(peer)]() mutable {
            auto cancel = std::make_shared<asio::cancellation_signal>();
            asio::co_spawn(executor,
                           serveConnection(beast::tcp_stream(std::move(socket)), std::move(slot),
                                           std::move(peer), cancel),
                           m_tasks.adapt(executor, cancel, asio::detached));
        });
    }
    boost::system::error_code ignored;
    m_acceptor.close(ignored);
}

// At a connection cap: a plain-HTTP client is told so in one write that never waits, a
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

// Reads the connection's first bytes until they are a PROXY header, or plainly not one:
// they stay in the buffer for what reads them next (TLS, or the first request).
asio::awaitable<ProxyHeader>
GatewayService::Impl::readProxyHeader(beast::tcp_stream& stream, Buffer& buffer,
                                      const CancellationSignal& cancel) {
    std::optional<IdleMark> idle(std::in_place, *this, stream.get_executor(), cancel);
    for (;;) {
        const auto bytes = buffer.data();
        ProxyHeader header = ProxyHeader::read(
            std::string_view(static_cast<const char*>(bytes.data()), bytes.size()));
        if (header.state != ProxyHeader::State::Partial)
            co_return header;
        auto [ec, n] = co_await stream.async_read_some(buffer.prepare(512), tuple);
        if (ec)
            co_return ProxyHeader{ProxyHeader::State::Broken, 0, {}};
        buffer.commit(n);
        idle.reset(); // a byte has come: no longer idle
    }
}

asio::awaitable<void> GatewayService::Impl::serveConnection(beast::tcp_stream stream,
                                                            AddressSlots::Slot slot,
                                                            std::string peer,
                                                            CancellationSignal cancel) {
    const Limits& limits = m_options.limits;
    // Room for one header section and whatever pipelined bytes came with it. The requests
    // carry the access key: wiped when freed.
    Buffer buffer(limits.headerBytes + 16 * 1024);
    try {
        stream.expires_after(limits.headerTime);
        const bool trusted = m_proxies.contains(peer);
        ProxyHeader proxy = co_await readProxyHeader(stream, buffer, cancel);
        std::string client = peer;
        if (proxy.state == ProxyHeader::State::Broken && buffer.size() == 0)
            co_return; // gone, or silent until the header limit
        if (proxy.state != ProxyHeader::State::Absent) {
            if (!trusted || proxy.state == ProxyHeader::State::Broken) {
                co_await answerAndClose(stream, buffer, http::status::bad_request,
                                        trusted ? "The PROXY header cannot be read."
                                                : "A PROXY header is taken only from a trusted "
                                                  "proxy (--trusted-proxy).",
                                        peer);
                co_return;
            }
            buffer.consume(proxy.length);
            if (!proxy.clientAddress.empty()) {
                // From now on the client is the one the proxy names, with its own caps.
                client = proxy.clientAddress;
                slot.release();
                AddressSlots::Cap cap = AddressSlots::Cap::Total;
                std::optional<AddressSlots::Slot> own = m_slots.take(client, &cap);
                if (!own) {
                    m_metrics.countRefusedConnection(cap == AddressSlots::Cap::Total
                                                         ? GatewayMetrics::Cap::Total
                                                         : GatewayMetrics::Cap::PerAddress);
                    co_await answerAndClose(stream, buffer, http::status::service_unavailable,
                                            "The gateway has too many clients.", client);
                    co_return;
                }
                slot = std::move(*own);
            }
        }
        // A trusted proxy without a PROXY header names each request's client in
        // X-Forwarded-For.
        const bool forwardedFor = trusted && proxy.state == ProxyHeader::State::Absent;
        std::shared_ptr<ssl::context> tls = m_tls ? m_tls->current() : nullptr;
        if (!tls) {
            co_await session(stream, buffer, slot, client, forwardedFor, cancel);
            co_return;
        }
        auto [detectError, isTls] = co_await beast::async_detect_ssl(stream, buffer, tuple);
        if (detectError)
            co_return;
        if (!isTls) {
            co_await answerAndClose(stream, buffer, http::status::bad_request,
                                    "This port speaks HTTPS: ask for https:// instead of http://.",
                                    client);
            co_return;
        }
        // The certificate in use now; a reload meanwhile leaves this connection its own.
        beast::ssl_stream<beast::tcp_stream> secure(std::move(stream), *tls);
        auto [handshakeError, used] =
            co_await secure.async_handshake(ssl::stream_base::server, buffer.data(), tuple);
        if (handshakeError)
            co_return;
        buffer.consume(used);
        co_await session(secure, buffer, slot, client, forwardedFor, cancel);
    } catch (const std::exception&) {
        // The peer went away or broke the protocol, or the service stops: nothing to answer.
    }
}

// A short answer, rather than a silent close, to what cannot be served on this connection
// (plain HTTP on the HTTPS port, a PROXY header not taken).
asio::awaitable<void> GatewayService::Impl::answerAndClose(beast::tcp_stream& stream,
                                                           Buffer& buffer, http::status status,
                                                           std::string_view text,
                                                           const std::string& client) {
    GatewayReply reply = GatewayHandler::refusal(status, text, client);
    m_log.request(reply.record);
    m_metrics.countRequest(nullptr, reply.record.status);
    if (co_await writeAnswer(stream, reply.message, m_options.limits.writeStall))
        co_return;
    co_await closeGracefully(stream);
    // The rest of the request is read and dropped before the close: closing with unread
    // bytes would reset the connection, and the client could lose the answer.
    stream.expires_after(std::chrono::seconds(1));
    for (std::size_t dropped = 0; dropped < 64 * 1024;) {
        buffer.clear();
        auto [ec, n] = co_await stream.async_read_some(buffer.prepare(4096), tuple);
        if (ec)
            break;
        dropped += n;
    }
}

template <class Stream>
asio::awaitable<void> GatewayService::Impl::session(Stream& stream, Buffer& buffer,
                                                    AddressSlots::Slot& slot,
                                                    const std::string& client, bool forwardedFor,
                                                    const CancellationSignal& cancel) {
    const Limits& limits = m_options.limits;
    beast::tcp_stream& tcp = beast::get_lowest_layer(stream);
    for (bool first = true;; first = false) {
        if (!first && buffer.size() == 0) {
            // Between requests: the idle limit runs until the next request's first byte,
            // then the header limit. A stop closes idle connections at once.
            if (m_stopping)
                break;
            IdleMark idle(*this, tcp.get_executor(), cancel);
            tcp.expires_after(limits.idleTime);
            auto [ec, n] = co_await stream.async_read_some(buffer.prepare(1024), tuple);
            if (ec)
                co_return;
            buffer.commit(n);
        }
        if (!first)
            tcp.expires_after(limits.headerTime);

        http::request_parser<http::string_body, WipingAllocator<char>> parser;
        parser.header_limit(static_cast<std::uint32_t>(limits.headerBytes));
        parser.body_limit(16 * 1024); // the service takes GETs: no body to speak of
        auto [readError, n] = co_await http::async_read(stream, buffer, parser, tuple);
        GatewayReply reply;
        if (readError) {
            std::optional<http::status> refusal = refusalFor(readError);
            if (!refusal)
                co_return;
            reply = GatewayHandler::refusal(*refusal, http::obsolete_reason(*refusal), client);
            m_metrics.countRequest(nullptr, reply.record.status);
        } else {
            // No time limit on the client while WHM works, but a watch for it going away.
            // A named request: g++ 12 mishandles temporaries in a co_await expression.
            tcp.expires_never();
            GatewayRequest request{parser.release(), client};
            if (forwardedFor) {
                auto hop = request.message.find("X-Forwarded-For");
                if (hop != request.message.end())
                    if (std::string address = TrustedProxies::lastHop(hop->value());
                        !address.empty())
                        request.clientAddress = std::move(address);
            }
            ClientWatch::Probe probe;
            if (request.message.version() >= 11)
                probe = [&stream] { return writeProbe(stream); };
            ClientWatch watch(tcp.socket(), slot, cancel, std::move(probe));
            reply = co_await m_handler.handle(request);
            asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
            if (watch.clientLeft())
                reply.record.unsentBecause = "the client went away";
            else if (state.cancelled() != asio::cancellation_type::none)
                reply.record.unsentBecause = "the gateway stopped";
        }
        m_log.request(reply.record, std::move(reply.logPlace));
        if (!reply.record.unsentBecause.empty())
            co_return;
        // A stopping gateway answers what is under way and closes the connection after.
        if (m_stopping)
            reply.message.keep_alive(false);
        // The answer keeps its share of the WHM budget until it has been written.
        if (co_await writeAnswer(stream, reply.message, limits.writeStall) ||
            !reply.message.keep_alive())
            break;
    }
    co_await closeGracefully(stream);
}
