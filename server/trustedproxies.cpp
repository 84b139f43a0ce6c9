#include "trustedproxies.h"

#include <charconv>

namespace ip = boost::asio::ip;

namespace {

// An IPv4-mapped IPv6 address is its IPv4 address.
ip::address plain(const ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6());
    return address;
}

bool samePrefix(const ip::address& a, const ip::address& b, unsigned prefix) {
    if (a.is_v4() != b.is_v4())
        return false;
    auto compare = [prefix](const auto& x, const auto& y) {
        for (unsigned bit = 0; bit < prefix; ++bit) {
            const unsigned mask = 0x80u >> (bit % 8);
            if ((x[bit / 8] & mask) != (y[bit / 8] & mask))
                return false;
        }
        return true;
    };
    return a.is_v4() ? compare(a.to_v4().to_bytes(), b.to_v4().to_bytes())
                     : compare(a.to_v6().to_bytes(), b.to_v6().to_bytes());
}

} // namespace

bool TrustedProxies::add(std::string_view text) {
    const std::size_t slash = text.find('/');
    boost::system::error_code ec;
    ip::address base = ip::make_address(std::string(text.substr(0, slash)), ec);
    if (ec)
        return false;
    base = plain(base);
    const unsigned bits = base.is_v4() ? 32 : 128;
    unsigned prefix = bits;
    if (slash != std::string_view::npos) {
        std::string_view digits = text.substr(slash + 1);
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
            prefix > bits)
            return false;
    }
    m_networks.push_back({base, prefix});
    return true;
}

bool TrustedProxies::contains(std::string_view text) const {
    boost::system::error_code ec;
    ip::address address = ip::make_address(std::string(text), ec);
    if (ec)
        return false;
    address = plain(address);
    for (const Network& network : m_networks)
        if (samePrefix(network.base, address, network.prefix))
            return true;
    return false;
}

std::string TrustedProxies::lastHop(std::string_view forwardedFor) {
    std::string_view hop = forwardedFor.substr(forwardedFor.rfind(',') + 1);
    while (!hop.empty() && (hop.front() == ' ' || hop.front() == '\t'))
        hop.remove_prefix(1);
    while (!hop.empty() && (hop.back() == ' ' || hop.back() == '\t'))
        hop.remove_suffix(1);
    // nginx writes an IPv6 client bare; some proxies put it in brackets.
    if (hop.size() > 2 && hop.front() == '[' && hop.back() == ']')
        hop = hop.substr(1, hop.size() - 2);
    boost::system::error_code ec;
    ip::address address = ip::make_address(std::string(hop), ec);
    return ec ? std::string() : plain(address).to_string();
}
