#pragma once

#include "secret.h"
#include "whmconnection.h"

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <string>

class WhmAnswerReader;
class WhmBudget;
class WhmPool;
class WhmResolver;
class WhmHostPolicy;

// One call as its attempts see it. Its request goes out as one block of bytes, the login
// among them: a secret, wiped when freed, and never copied on its way to TLS.
struct WhmCall {
    WhmPlace place;
    Secret request;
    WhmAnswerReader& reader;
    std::chrono::steady_clock::duration timeout; // as asked, for the reasons
    std::uint64_t cap;                           // bytes of one answer
    std::string key;                             // where its connection waits between calls
};

// How one attempt of a call on one connection ended.
enum class WhmAttempt {
    Answered, // the answer is read (and the connection, when it may serve again, pooled)
    Stale,    // a pooled connection that something reached while idle: not used
    Retry,    // a pooled connection failed before any byte of the answer
};

// The services an exchange uses beside its connection.
struct WhmExchangeContext {
    WhmResolver& resolver;
    const WhmHostPolicy& policy;
    WhmPool& pool;
    const WhmBudget& budget;
};

// Sends call's request on connection (opening it first unless reused) and hands WHM's
// answer to the call's reader as it arrives: exactly one answer, interim 1xx ones read
// past, every byte counted against the call's cap. Runs on the connection's strand.
// Throws WhmError when no complete answer was read: NotKnown once the request went out.
boost::asio::awaitable<WhmAttempt> exchange(WhmConnection& connection, bool reused,
                                            const WhmCall& call, WhmExchangeContext services);
