#include "whmpool.h"

#include <boost/asio/error.hpp>

#include <algorithm>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

std::shared_ptr<WhmPool> WhmPool::make(const asio::any_io_executor& executor, Limits limits) {
    return std::shared_ptr<WhmPool>(new WhmPool(executor, limits));
}

WhmPool::WhmPool(const asio::any_io_executor& executor, Limits limits)
    : m_limits(limits), m_sweeper(executor) {}

WhmPool::~WhmPool() = default;

std::shared_ptr<WhmConnection> WhmPool::take(const Key& key) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_idle.rbegin(); it != m_idle.rend(); ++it) {
        if (it->key != key)
            continue;
        std::shared_ptr<WhmConnection> connection = std::move(it->connection);
        m_idle.erase(std::next(it).base());
        return connection;
    }
    return nullptr;
}

void WhmPool::put(const Key& key, std::shared_ptr<WhmConnection> connection) {
    // Watched first: a byte that comes while it goes in marks it stale.
    watch(connection);
    std::lock_guard lock(m_mutex);
    // Reached while on its way here: it never goes in.
    if (connection->stale)
        return;
    connection->idleSince = Clock::now();
    const auto sameHost = [&](const Idle& idle) { return idle.key == key; };
    if (static_cast<std::size_t>(std::count_if(m_idle.begin(), m_idle.end(), sameHost)) >=
        m_limits.perHost)
        m_idle.erase(std::find_if(m_idle.begin(), m_idle.end(), sameHost));
    if (m_idle.size() >= m_limits.total && !m_idle.empty())
        m_idle.pop_front();
    if (m_limits.perHost > 0 && m_limits.total > 0)
        m_idle.push_back({key, std::move(connection)});
    if (!m_sweeping && !m_idle.empty()) {
        m_sweeping = true;
        sweepLater();
    }
}

void WhmPool::clear() {
    std::lock_guard lock(m_mutex);
    m_idle.clear();
    m_sweeper.cancel();
}

std::size_t WhmPool::idleCount() const {
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

void WhmPool::remove(const WhmConnection* connection) {
    std::lock_guard lock(m_mutex);
    m_idle.remove_if([&](const Idle& idle) { return idle.connection.get() == connection; });
}

void WhmPool::dropStale() {
    const Clock::time_point now = Clock::now();
    m_idle.remove_if(
        [&](const Idle& idle) { return now - idle.connection->idleSince >= m_limits.idle; });
}

// Called with m_mutex held. The timer holds the pool only weakly: a pool that is gone has
// nothing left to sweep.
void WhmPool::sweepLater() {
    m_sweeper.expires_after(m_limits.idle / 4 + std::chrono::milliseconds(1));
    m_sweeper.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
        std::shared_ptr<WhmPool> pool = weak.lock();
        if (ec || !pool)
            return;
        std::lock_guard lock(pool->m_mutex);
        pool->dropStale();
        pool->m_sweeping = !pool->m_idle.empty();
        if (pool->m_sweeping)
            pool->sweepLater();
    });
}

// A wait on the raw socket reads nothing and leaves the TLS state alone. Taking the
// connection back for a call cancels it.
void WhmPool::watch(const std::shared_ptr<WhmConnection>& connection) {
    connection->socket().async_wait(
        tcp::socket::wait_read,
        [weakPool = weak_from_this(), weak = std::weak_ptr<WhmConnection>(connection)](auto ec) {
            std::shared_ptr<WhmConnection> connection = weak.lock();
            if (ec == asio::error::operation_aborted || !connection)
                return;
            connection->stale = true;
            if (std::shared_ptr<WhmPool> pool = weakPool.lock())
                pool->remove(connection.get());
        });
}
