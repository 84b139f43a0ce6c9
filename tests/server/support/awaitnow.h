#pragma once

#include "whmapi.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <utility>

// Runs a coroutine to its end on a context of its own and gives its result (or rethrows
// its exception): for tests that call the WHM side one call at a time.
template <typename Make> auto awaitNow(Make make) {
    boost::asio::io_context context;
    auto future = boost::asio::co_spawn(context, std::move(make)(), boost::asio::use_future);
    context.run();
    return future.get();
}

// The request lives here until the call is over: the coroutine only holds a reference.
inline WhmOutcome callNow(WhmApi& whm, WhmRequest request) {
    return awaitNow([&] { return whm.call(request); });
}

inline WhmResponse sendNow(WhmApi& whm, WhmRequest request) {
    return awaitNow([&] { return whm.send(request); });
}
