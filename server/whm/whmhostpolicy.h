#pragma once

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

// Which WHM hosts the gateway may reach. A request names its WHM host, so without a policy
// it could turn the gateway against its own machine or network.
class WhmHostPolicy {
public:
    // allowedHosts: when not empty, the only hosts that may be reached, and the only way to
    // reach a loopback or link-local address.
    explicit WhmHostPolicy(std::vector<std::string> allowedHosts = {});

    // Why the host may not be looked up or connected to, or empty when it may.
    std::string refusalOfName(std::string_view host) const;
    // Why an address the host resolved to may not be connected to, or empty when it may.
    std::string refusalOfAddress(std::string_view host,
                                 const boost::asio::ip::address& address) const;

    // A DNS name of letters, digits and inner hyphens, or a dotted-quad IPv4 address in
    // its one plain spelling. Anything a resolver might read as a number in another
    // spelling (127.1, 2130706433, 0x7f000001, 0) is not.
    static bool isCanonicalHost(std::string_view host);
    // Loopback, link-local or unspecified (which reaches this machine), also where an IPv6
    // address carries such an IPv4 address (mapped, compatible, translated, NAT64, 6to4,
    // Teredo).
    static bool isLocalAddress(const boost::asio::ip::address& address);
    // Multicast or broadcast, also carried in IPv6: never a WHM server, even when named.
    static bool isGroupAddress(const boost::asio::ip::address& address);

private:
    bool isNamed(std::string_view host) const;

    std::vector<std::string> m_allowedHosts; // lower case
};
