#pragma once

#include "addressslots.h"

#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <functional>
#include <memory>

// Watches a client's connection, for as long as it lives, while the client's request
// waits on WHM. When the client goes away (closes, or the connection breaks), its slot and
// socket are freed at once and its session is cancelled, which ends a list call; a command
// goes on to its outcome (GatewayHandler).
//
// A client that only shuts its sending side (as `nc -N` does) still waits for its answer,
// and a FIN alone cannot tell it from one that closed. So on a FIN the watch sends an
// interim "102 Processing" answer, which every HTTP/1.1 client reads past: a client that
// has closed its socket answers it with a reset, and only that counts as gone. Bytes that
// arrive meanwhile are a pipelined next request, not a close. Both are then looked at
// every 100 ms.
//
// Made and destroyed on the socket's strand, where it runs.
class ClientWatch {
public:
    // Writes the interim answer on the connection (through TLS where it is spoken) without
    // waiting; false when it cannot. Empty for a client that may not get one (HTTP/1.0).
    using Probe = std::function<bool()>;

    ClientWatch(boost::asio::ip::tcp::socket& socket, AddressSlots::Slot& slot,
                std::shared_ptr<boost::asio::cancellation_signal> session, Probe probe);
    ~ClientWatch();
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

    bool clientLeft() const;

    // The interim answer the probe writes.
    static constexpr std::string_view processing = "HTTP/1.1 102 Processing\r\n\r\n";

private:
    struct State;
    std::shared_ptr<State> m_state; // shared with the waits under way
};
