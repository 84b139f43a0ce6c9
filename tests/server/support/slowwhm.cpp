#include "slowwhm.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace asio = boost::asio;

asio::awaitable<WhmResponse> SlowWhm::send(const WhmRequest& request) {
    ++m_begun;
    asio::steady_timer wait(co_await asio::this_coro::executor, m_delay);
    // A slot of its own, connected to nothing, keeps the caller's cancellation out.
    asio::cancellation_signal deaf;
    auto [ec] = m_honoursCancellation
                    ? co_await wait.async_wait(asio::as_tuple(asio::use_awaitable))
                    : co_await wait.async_wait(asio::bind_cancellation_slot(
                          deaf.slot(), asio::as_tuple(asio::use_awaitable)));
    if (ec) {
        ++m_cancelled;
        throw WhmError("The call to WHM was cancelled");
    }
    co_return m_simulator.answer(request);
}
