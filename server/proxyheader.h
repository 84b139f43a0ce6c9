#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The PROXY protocol header a reverse proxy sends ahead of its client's bytes (version 1,
// a line of text, as nginx's proxy_protocol sends it; version 2, binary, as haproxy's
// send-proxy-v2), read from the first bytes of a connection.
struct ProxyHeader {
    enum class State {
        Absent,   // the bytes are not a PROXY header
        Partial,  // they may be one: more are needed
        Complete, // a header of `length` bytes
        Broken,   // a PROXY header that cannot be read
    };
    State state = State::Absent;
    std::size_t length = 0;
    // The client it names; empty when it names none (LOCAL, UNKNOWN: the proxy's own
    // health checks).
    std::string clientAddress;

    static ProxyHeader read(std::string_view bytes);
};
