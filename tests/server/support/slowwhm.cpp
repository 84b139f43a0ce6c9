#include "slowwhm.h"

#include "whmanswerreader.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace asio = boost::asio;

asio::awaitable<void> SlowWhm::send(const WhmRequest& request, std::string_view, WhmCallKind kind,
                                    WhmAnswerReader& reader) {
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
        // As a WHM client would say: a command was on its way, so its outcome is not known.
        throw WhmError(kind == WhmCallKind::Command ? WhmResult::NotKnown : WhmResult::Cancelled,
                       "The call to WHM was cancelled");
    }
    WhmResponse response = m_simulator.answer(request);
    reader.read(response.status, response.body);
}
