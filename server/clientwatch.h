#pragma once

#include "connectionslots.h"

#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>

// Watches a client's connection, for as long as it lives, while the client's request
// waits on WHM. When the client goes away (closes, or the connection breaks), its slot and
// socket are freed at once and its session is cancelled, which ends a list call; a command
// goes on to its outcome (GatewayHandler). Bytes that arrive meanwhile are a pipelined
// next request, not a close: behind them only POLLRDHUP tells a close, so the watch then
// looks every 100 ms.
//
// Made and destroyed on the socket's strand, where it runs.
class ClientWatch {
public:
    ClientWatch(boost::asio::ip::tcp::socket& socket, ConnectionSlots::Slot& slot,
                std::shared_ptr<boost::asio::cancellation_signal> session);
    ~ClientWatch();
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

    bool clientLeft() const;

private:
    struct State;
    std::shared_ptr<State> m_state; // shared with the waits under way
};
