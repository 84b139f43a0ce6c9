#include "whmhostpolicy.h"

#include "textrules.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::vector<std::string_view> labelsOf(std::string_view host) {
    std::vector<std::string_view> labels;
    size_t start = 0;
    while (true) {
        size_t dot = host.find('.', start);
        labels.push_back(host.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos)
            return labels;
        start = dot + 1;
    }
}

bool isDottedQuad(const std::vector<std::string_view>& labels) {
    if (labels.size() != 4)
        return false;
    for (std::string_view label : labels) {
        if (label.empty() || label.size() > 3 || !std::all_of(label.begin(), label.end(), isDigit))
            return false;
        if (label.size() > 1 && label.front() == '0') // 010 is octal to some resolvers
            return false;
        if (std::stoi(std::string(label)) > 255)
            return false;
    }
    return true;
}

// A label a resolver could read as part of a number: decimal, octal or 0x hexadecimal.
bool looksNumeric(std::string_view label) {
    if (std::all_of(label.begin(), label.end(), isDigit))
        return true;
    return label.size() >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X') &&
           std::all_of(label.begin() + 2, label.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool allZero(const std::array<unsigned char, 16>& b, size_t from, size_t to) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(to),
                       [](unsigned char c) { return c == 0; });
}

boost::asio::ip::address_v4 v4Of(unsigned char a, unsigned char b, unsigned char c,
                                 unsigned char d) {
    return boost::asio::ip::address_v4({a, b, c, d});
}

// The IPv4 addresses an IPv6 address may lead to, by the ways of carrying one that
// routers and hosts know.
std::vector<boost::asio::ip::address_v4> carriedV4(const boost::asio::ip::address_v6& address) {
    const auto b = address.to_bytes();
    std::vector<boost::asio::ip::address_v4> carried;
    auto last32 = [&] { carried.push_back(v4Of(b[12], b[13], b[14], b[15])); };
    if (allZero(b, 0, 10) && ((b[10] == 0 && b[11] == 0) || (b[10] == 0xff && b[11] == 0xff)))
        last32(); // IPv4-compatible ::a.b.c.d, IPv4-mapped ::ffff:a.b.c.d
    if (allZero(b, 0, 8) && b[8] == 0xff && b[9] == 0xff && b[10] == 0 && b[11] == 0)
        last32(); // IPv4-translated ::ffff:0:a.b.c.d
    if (b[0] == 0 && b[1] == 0x64 && b[2] == 0xff && b[3] == 0x9b) {
        if (allZero(b, 4, 12))
            last32(); // NAT64's well-known prefix 64:ff9b::/96
        if (b[4] == 0 && b[5] == 1) {
            // NAT64's local-use 64:ff9b:1::/48, by each prefix length it may use
            carried.push_back(v4Of(b[6], b[7], b[9], b[10]));
            carried.push_back(v4Of(b[7], b[9], b[10], b[11]));
            carried.push_back(v4Of(b[9], b[10], b[11], b[12]));
            last32();
        }
    }
    if (b[0] == 0x20 && b[1] == 0x02)
        carried.push_back(v4Of(b[2], b[3], b[4], b[5])); // 6to4 2002:AABB:CCDD::/48
    if (b[0] == 0x20 && b[1] == 0x01 && b[2] == 0 && b[3] == 0) {
        // Teredo 2001::/32: its server, and its client's address inverted
        carried.push_back(v4Of(b[4], b[5], b[6], b[7]));
        carried.push_back(v4Of(~b[12] & 0xff, ~b[13] & 0xff, ~b[14] & 0xff, ~b[15] & 0xff));
    }
    return carried;
}

std::string groupRefusal(std::string_view host, const boost::asio::ip::address& address) {
    return "This gateway may not reach " + std::string(host) + ": " + address.to_string() +
           " is a multicast or broadcast address, where no WHM server answers";
}

} // namespace

WhmHostPolicy::WhmHostPolicy(std::vector<std::string> allowedHosts) {
    for (const std::string& host : allowedHosts)
        m_allowedHosts.push_back(lowerCase(host));
}

bool WhmHostPolicy::isCanonicalHost(std::string_view host) {
    if (host.empty() || host.size() > 253)
        return false;
    std::vector<std::string_view> labels = labelsOf(host);
    if (isDottedQuad(labels))
        return true;
    if (!std::all_of(labels.begin(), labels.end(), [](auto l) { return isDnsLabel(l); }))
        return false;
    // A name whose last label is a number is an address in some other spelling.
    return !looksNumeric(labels.back());
}

bool WhmHostPolicy::isLocalAddress(const boost::asio::ip::address& address) {
    if (address.is_v6()) {
        boost::asio::ip::address_v6 v6 = address.to_v6();
        if (v6.is_loopback() || v6.is_link_local() || v6.is_unspecified())
            return true;
        auto carried = carriedV4(v6);
        return std::any_of(carried.begin(), carried.end(),
                           [](const auto& v4) { return isLocalAddress(v4); });
    }
    auto bytes = address.to_v4().to_bytes();
    return bytes[0] == 127 || bytes[0] == 0 || (bytes[0] == 169 && bytes[1] == 254);
}

bool WhmHostPolicy::isGroupAddress(const boost::asio::ip::address& address) {
    if (address.is_v6()) {
        if (address.to_v6().is_multicast())
            return true;
        auto carried = carriedV4(address.to_v6());
        return std::any_of(carried.begin(), carried.end(),
                           [](const auto& v4) { return isGroupAddress(v4); });
    }
    return address.is_multicast() || address.to_v4() == boost::asio::ip::address_v4::broadcast();
}

bool WhmHostPolicy::isNamed(std::string_view host) const {
    return std::find(m_allowedHosts.begin(), m_allowedHosts.end(), lowerCase(host)) !=
           m_allowedHosts.end();
}

std::string WhmHostPolicy::refusalOfName(std::string_view host) const {
    if (host.empty())
        return "No WHM host name is set";
    if (!isCanonicalHost(host))
        return "The WHM host name is not valid: give a host name or an address such as "
               "192.0.2.10 alone, without http:// or a port";
    if (!m_allowedHosts.empty() && !isNamed(host))
        return "This gateway may not reach the WHM host " + std::string(host) +
               ": it is not among its --whm-host names";
    std::string name = lowerCase(host);
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address_v4(name, ec);
    if (!ec && isGroupAddress(address))
        return groupRefusal(host, address);
    if (isNamed(host))
        return {};
    if (name == "localhost" || name.ends_with(".localhost") || (!ec && isLocalAddress(address)))
        return "This gateway may not reach " + std::string(host) +
               " on its own machine unless it is started with --whm-host " + std::string(host);
    return {};
}

std::string WhmHostPolicy::refusalOfAddress(std::string_view host,
                                            const boost::asio::ip::address& address) const {
    if (isGroupAddress(address))
        return groupRefusal(host, address);
    if (isNamed(host) || !isLocalAddress(address))
        return {};
    return "This gateway may not reach " + std::string(host) + ": it leads to " +
           address.to_string() + " on its own machine or network, unless started with --whm-host " +
           std::string(host);
}
