#include "whmresolver.h"

#include "whmresult.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace asio = boost::asio;

struct WhmResolver::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    unsigned maxThreads = 1;
    unsigned threads = 0;
    unsigned idle = 0;
    bool stopping = false;
    Lookup lookup;

    // Called with mutex held: a thread more when the idle ones cannot take every job
    // waiting and there is room.
    void add(std::function<void()> job, const std::shared_ptr<Queue>& self) {
        jobs.push_back(std::move(job));
        if (jobs.size() > idle && threads < maxThreads) {
            ++threads;
            std::thread([self] { self->work(); }).detach();
        } else {
            wake.notify_one();
        }
    }

    void work() {
        std::unique_lock lock(mutex);
        for (;;) {
            ++idle;
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            --idle;
            if (jobs.empty()) { // stopping
                --threads;
                return;
            }
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }
};

WhmResolver::WhmResolver(unsigned threads, Lookup lookup) : m_queue(std::make_shared<Queue>()) {
    m_queue->maxThreads = std::max(threads, 1u);
    m_queue->lookup = lookup ? std::move(lookup) : Lookup(&WhmResolver::systemLookup);
}

WhmResolver::~WhmResolver() {
    std::lock_guard lock(m_queue->mutex);
    m_queue->stopping = true;
    m_queue->jobs.clear();
    m_queue->wake.notify_all();
}

std::vector<asio::ip::address> WhmResolver::systemLookup(const std::string& host,
                                                         boost::system::error_code& ec) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* results = nullptr;
    std::vector<asio::ip::address> addresses;
    int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &results);
    if (error != 0) {
        // Out of descriptors and the like is the gateway's trouble, not a missing name.
        if (error == EAI_SYSTEM)
            ec.assign(errno, boost::system::system_category());
        else
            ec = error == EAI_NONAME || error == EAI_NODATA ? asio::error::host_not_found
                 : error == EAI_AGAIN                       ? asio::error::host_not_found_try_again
                                                            : asio::error::no_recovery;
        return addresses;
    }
    for (addrinfo* r = results; r; r = r->ai_next) {
        if (r->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(r->ai_addr);
            asio::ip::address_v4::bytes_type bytes;
            std::memcpy(bytes.data(), &in->sin_addr, bytes.size());
            addresses.emplace_back(asio::ip::address_v4(bytes));
        } else if (r->ai_family == AF_INET6) {
            const auto* in = reinterpret_cast<const sockaddr_in6*>(r->ai_addr);
            asio::ip::address_v6::bytes_type bytes;
            std::memcpy(bytes.data(), &in->sin6_addr, bytes.size());
            addresses.emplace_back(asio::ip::address_v6(bytes, in->sin6_scope_id));
        }
    }
    ::freeaddrinfo(results);
    return addresses;
}

asio::awaitable<std::vector<asio::ip::address>>
WhmResolver::resolve(const std::string& host, std::chrono::steady_clock::time_point deadline) {
    // What the look-up's thread and the waiting call share. It holds nothing of the call's
    // io_context once the call stops waiting, as the thread may be the last to let it go.
    struct Lookup {
        std::mutex mutex;
        std::optional<asio::any_io_executor> caller; // while the call waits
        asio::steady_timer* wake = nullptr;          // likewise
        bool done = false;
        boost::system::error_code ec;
        std::vector<asio::ip::address> addresses;
    };
    asio::steady_timer wake(co_await asio::this_coro::executor, deadline);
    auto lookup = std::make_shared<Lookup>();
    lookup->caller = wake.get_executor();
    lookup->wake = &wake;
    struct StopWaiting {
        Lookup& l;
        ~StopWaiting() {
            std::lock_guard lock(l.mutex);
            l.caller.reset();
            l.wake = nullptr;
        }
    } stopWaiting{*lookup};
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->add(
            [lookup, host, resolveName = m_queue->lookup] {
                if (std::lock_guard lock(lookup->mutex); !lookup->caller)
                    return; // the call gave up while this waited its turn
                boost::system::error_code ec;
                std::vector<asio::ip::address> addresses = resolveName(host, ec);
                std::lock_guard lock(lookup->mutex);
                if (!lookup->caller)
                    return;
                lookup->ec = ec;
                lookup->addresses = std::move(addresses);
                lookup->done = true;
                asio::post(*lookup->caller, [lookup] {
                    std::lock_guard lock(lookup->mutex);
                    if (lookup->wake)
                        lookup->wake->cancel();
                });
            },
            m_queue);
    }
    boost::system::error_code ignored;
    co_await wake.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    bool done = false;
    boost::system::error_code ec;
    std::vector<asio::ip::address> addresses;
    {
        std::lock_guard lock(lookup->mutex);
        done = lookup->done;
        ec = lookup->ec;
        addresses = std::move(lookup->addresses);
    }
    if (!done) {
        if ((co_await asio::this_coro::cancellation_state).cancelled() !=
            asio::cancellation_type::none)
            throw WhmError(WhmResult::Cancelled,
                           "The call to WHM was cancelled while " + host + " was being looked up");
        throw WhmError(WhmResult::Failed,
                       "The WHM host " + host + " could not be looked up in the time allowed");
    }
    if (ec && ec.category() == boost::system::system_category())
        throw WhmError(WhmResult::Failed,
                       "The WHM host " + host + " could not be looked up (" + ec.message() + ")");
    if (ec)
        throw WhmError(WhmResult::Failed,
                       "The WHM host " + host + " could not be found (" + ec.message() + ")");
    if (addresses.empty())
        throw WhmError(WhmResult::Failed, "The WHM host " + host + " has no address");
    co_return addresses;
}
