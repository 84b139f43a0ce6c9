#pragma once

#include "whmconnection.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

// Idle kept-alive connections by host name (in lower case: the port and trusted
// certificates are the client's own). A connection is in here only between two complete
// answers, so no two requests ever share one at the same time. Bounded per host and in
// all: beyond either cap the connection idle longest is closed, so a client naming host
// after host cannot take the process's descriptors. Safe to use from several threads.
class WhmPool : public std::enable_shared_from_this<WhmPool> {
public:
    using Clock = std::chrono::steady_clock;
    using Key = std::string;

    struct Limits {
        std::size_t perHost = 32;
        std::size_t total = 64;
        // A connection unused for this long is closed.
        Clock::duration idle = std::chrono::seconds(15);
    };

    // Made shared: its sweeper and the idle connections' watches hold it weakly.
    static std::shared_ptr<WhmPool> make(const boost::asio::any_io_executor& executor,
                                         Limits limits);
    ~WhmPool();

    // The connection idle shortest for key, or null.
    std::shared_ptr<WhmConnection> take(const Key& key);
    // Keeps a connection whose answer was complete and asked to stay. From the
    // connection's strand: it watches it there without reading it, and whatever arrives
    // before its next call (stray bytes, a second answer, a close) means it is no longer
    // in step with WHM, and it goes.
    void put(const Key& key, std::shared_ptr<WhmConnection> connection);
    // Closes every idle connection.
    void clear();

    std::size_t idleCount() const;
    // Connections that exist now (idle or in a call), and those opened so far.
    std::size_t openCount() const { return *m_open; }
    std::uint64_t openedCount() const { return m_opened; }
    // What a new connection counts itself in.
    std::shared_ptr<std::atomic<std::size_t>> openCounter() const { return m_open; }
    void countOpened() { ++m_opened; }

private:
    struct Idle {
        Key key;
        std::shared_ptr<WhmConnection> connection;
    };
    WhmPool(const boost::asio::any_io_executor& executor, Limits limits);

    void remove(const WhmConnection* connection);
    // Called with m_mutex held.
    void dropStale();
    void sweepLater();
    void watch(const std::shared_ptr<WhmConnection>& connection);

    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::list<Idle> m_idle; // idle longest first
    boost::asio::steady_timer m_sweeper;
    bool m_sweeping = false;
    std::shared_ptr<std::atomic<std::size_t>> m_open =
        std::make_shared<std::atomic<std::size_t>>(0);
    std::atomic<std::uint64_t> m_opened{0};
};
