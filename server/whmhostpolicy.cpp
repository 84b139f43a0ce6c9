#include "whmhostpolicy.h"

#include <algorithm>
#include <cctype>

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

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

bool isDnsLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    return std::all_of(label.begin(), label.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-';
    });
}

} // namespace

WhmHostPolicy::WhmHostPolicy(std::vector<std::string> allowedHosts) {
    for (const std::string& host : allowedHosts)
        m_allowedHosts.push_back(lower(host));
}

bool WhmHostPolicy::isCanonicalHost(std::string_view host) {
    if (host.empty() || host.size() > 253)
        return false;
    std::vector<std::string_view> labels = labelsOf(host);
    if (isDottedQuad(labels))
        return true;
    if (!std::all_of(labels.begin(), labels.end(), isDnsLabel))
        return false;
    // A name whose last label is a number is an address in some other spelling.
    return !looksNumeric(labels.back());
}

bool WhmHostPolicy::isLocalAddress(const boost::asio::ip::address& address) {
    if (address.is_v6()) {
        boost::asio::ip::address_v6 v6 = address.to_v6();
        if (v6.is_v4_mapped())
            return isLocalAddress(boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6));
        return v6.is_loopback() || v6.is_link_local() || v6.is_unspecified();
    }
    auto bytes = address.to_v4().to_bytes();
    return bytes[0] == 127 || bytes[0] == 0 || (bytes[0] == 169 && bytes[1] == 254);
}

bool WhmHostPolicy::isNamed(std::string_view host) const {
    return std::find(m_allowedHosts.begin(), m_allowedHosts.end(), lower(host)) !=
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
    if (isNamed(host))
        return {};
    std::string name = lower(host);
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address_v4(name, ec);
    if (name == "localhost" || name.ends_with(".localhost") || (!ec && isLocalAddress(address)))
        return "This gateway may not reach " + std::string(host) +
               " on its own machine unless it is started with --whm-host " + std::string(host);
    return {};
}

std::string WhmHostPolicy::refusalOfAddress(std::string_view host,
                                            const boost::asio::ip::address& address) const {
    if (isNamed(host) || !isLocalAddress(address))
        return {};
    return "This gateway may not reach " + std::string(host) + ": it leads to " +
           address.to_string() + " on its own machine or network, unless started with --whm-host " +
           std::string(host);
}
