#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class WhmHostPolicy;
class WhmResolver;

// Where one call goes, and by when it must be done.
struct WhmPlace {
    std::string host;
    int port = 2087;
    std::string where; // host:port, for the reasons
    std::chrono::steady_clock::time_point deadline;
};

// One TLS connection to a WHM server, straight on its socket. Its one timer holds the
// whole call's deadline: a timer per read (as a stream with per-operation time limits
// keeps) would be armed and disarmed for every TLS record of a list. Lives on a strand of
// its own; every member is used there.
class WhmConnection : public std::enable_shared_from_this<WhmConnection> {
public:
    using Clock = std::chrono::steady_clock;
    // What one connection reads into: a whole header section, chunk line or trailer
    // section must fit, so none of them can grow beyond it.
    static constexpr std::size_t readBufferBytes = 64 * 1024;

    // tls: what it trusts, kept as long as the connection lives. open counts the
    // connections that exist, for the metrics.
    WhmConnection(const boost::asio::any_io_executor& executor,
                  std::shared_ptr<boost::asio::ssl::context> tls,
                  std::shared_ptr<std::atomic<std::size_t>> open);
    ~WhmConnection();
    WhmConnection(const WhmConnection&) = delete;
    WhmConnection& operator=(const WhmConnection&) = delete;

    // Looks the host up (unless it is an address), checks every address it leads to
    // against policy, connects to the first that answers and makes the TLS handshake,
    // verifying that the certificate names the host. Throws WhmError (failed) with a
    // reason a person can act on.
    boost::asio::awaitable<void> open(const WhmPlace& place, WhmResolver& resolver,
                                      const WhmHostPolicy& policy);

    // From now until disarm(), reaching deadline closes the socket, so whatever step of
    // the call is waiting fails at once.
    void arm(Clock::time_point deadline);
    void disarm();
    bool timedOut() const { return m_timedOut; }

    // Nothing has come since the last answer: no byte or close on the socket, none in the
    // TLS layer's buffers, none read ahead.
    bool quiet();

    boost::asio::ssl::stream<boost::asio::ip::tcp::socket>& stream() { return m_stream; }
    boost::asio::ip::tcp::socket& socket() { return m_stream.next_layer(); }
    boost::beast::flat_buffer& buffer() { return m_buffer; }

    // Set when anything reaches the connection while it waits in the pool.
    std::atomic<bool> stale{false};
    Clock::time_point idleSince;

private:
    std::shared_ptr<boost::asio::ssl::context> m_tls;
    boost::asio::ssl::stream<boost::asio::ip::tcp::socket> m_stream;
    boost::asio::steady_timer m_timer;
    std::uint64_t m_call = 0;
    std::uint64_t m_armed = 0; // the call whose deadline the timer holds, or 0
    bool m_timedOut = false;
    boost::beast::flat_buffer m_buffer{readBufferBytes}; // kept between calls
    std::shared_ptr<std::atomic<std::size_t>> m_open;
};
