#pragma once

#include "whmapi.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <chrono>
#include <utility>

// Runs a coroutine on context until it ends and gives its result (or rethrows its
// exception): for tests that call the WHM side one call at a time. Only until then:
// timers that outlive the call (a connection pool's sweeper) do not hold it up.
template <typename Make> auto awaitOn(boost::asio::io_context& context, Make make) {
    auto future = boost::asio::co_spawn(context, std::move(make)(), boost::asio::use_future);
    context.restart();
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        context.run_one();
    return future.get();
}

template <typename Make> auto awaitNow(Make make) {
    boost::asio::io_context context;
    return awaitOn(context, std::move(make));
}

// The request lives here until the call is over: the coroutine only holds a reference.
inline WhmOutcome callNow(WhmApi& whm, WhmRequest request) {
    return awaitNow([&] { return whm.call(request); });
}
