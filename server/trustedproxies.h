#pragma once

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

// The reverse proxies (haproxy, nginx) whose word on a client's address is taken: from
// them alone a PROXY protocol header, or the last X-Forwarded-For hop, names the client.
class TrustedProxies {
public:
    // Adds ADDRESS or ADDRESS/PREFIX (IPv4 or IPv6); false when it is neither.
    bool add(std::string_view text);
    bool empty() const { return m_networks.empty(); }
    bool contains(std::string_view address) const;

    // The client an X-Forwarded-For value names: its last hop, the one the proxy itself
    // added; empty when that is not an address.
    static std::string lastHop(std::string_view forwardedFor);

private:
    struct Network {
        boost::asio::ip::address base;
        unsigned prefix;
    };
    std::vector<Network> m_networks;
};
