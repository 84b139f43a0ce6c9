#include "proxyheader.h"

#include <boost/asio/ip/address.hpp>

#include <array>

namespace ip = boost::asio::ip;

namespace {

constexpr std::string_view v1Start = "PROXY ";
constexpr std::string_view v2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr std::size_t v1Longest = 107; // the protocol's own bound, line end included
constexpr std::size_t v2Longest = 16 + 2048;

// Whether bytes, as far as they go, begin as start does.
bool beginsAs(std::string_view bytes, std::string_view start) {
    return start.substr(0, bytes.size()) == bytes.substr(0, start.size());
}

ProxyHeader broken() {
    return {ProxyHeader::State::Broken, 0, {}};
}

// "PROXY TCP4 client proxy clientport proxyport\r\n", or "PROXY UNKNOWN...\r\n".
ProxyHeader readV1(std::string_view bytes) {
    const std::size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos)
        return bytes.size() < v1Longest ? ProxyHeader{ProxyHeader::State::Partial, 0, {}}
                                        : broken();
    if (end + 2 > v1Longest)
        return broken();
    std::string_view line = bytes.substr(v1Start.size(), end - v1Start.size());
    ProxyHeader header{ProxyHeader::State::Complete, end + 2, {}};
    if (line.starts_with("UNKNOWN"))
        return header;
    if (!line.starts_with("TCP4 ") && !line.starts_with("TCP6 "))
        return broken();
    std::string_view fields = line.substr(5);
    const std::size_t blank = fields.find(' ');
    boost::system::error_code ec;
    ip::address client = ip::make_address(std::string(fields.substr(0, blank)), ec);
    if (ec || blank == std::string_view::npos || client.is_v4() != line.starts_with("TCP4"))
        return broken();
    header.clientAddress = client.to_string();
    return header;
}

// The signature, version and command, family, length, then the addresses and TLVs.
ProxyHeader readV2(std::string_view bytes) {
    if (bytes.size() < 16)
        return {ProxyHeader::State::Partial, 0, {}};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t length = 16 + (std::size_t(byte(14)) << 8 | byte(15));
    if ((byte(12) >> 4) != 2 || (byte(12) & 0x0f) > 1 || length > v2Longest)
        return broken();
    if (bytes.size() < length)
        return {ProxyHeader::State::Partial, 0, {}};
    ProxyHeader header{ProxyHeader::State::Complete, length, {}};
    if ((byte(12) & 0x0f) == 0) // LOCAL: the proxy speaks for itself
        return header;
    const unsigned family = byte(13) >> 4;
    if (family == 1 && length >= 16 + 12) {
        ip::address_v4::bytes_type address;
        for (std::size_t i = 0; i < address.size(); ++i)
            address[i] = byte(16 + i);
        header.clientAddress = ip::address_v4(address).to_string();
    } else if (family == 2 && length >= 16 + 36) {
        ip::address_v6::bytes_type address;
        for (std::size_t i = 0; i < address.size(); ++i)
            address[i] = byte(16 + i);
        ip::address_v6 v6(address);
        header.clientAddress =
            v6.is_v4_mapped() ? ip::make_address_v4(ip::v4_mapped, v6).to_string() : v6.to_string();
    } else if (family != 0 && family != 3) { // UNSPEC and UNIX name no client address
        return broken();
    }
    return header;
}

} // namespace

ProxyHeader ProxyHeader::read(std::string_view bytes) {
    if (bytes.empty())
        return {State::Partial, 0, {}};
    if (beginsAs(bytes, v2Signature))
        return bytes.size() < v2Signature.size() ? ProxyHeader{State::Partial, 0, {}}
                                                 : readV2(bytes);
    if (beginsAs(bytes, v1Start))
        return bytes.size() < v1Start.size() ? ProxyHeader{State::Partial, 0, {}} : readV1(bytes);
    return {};
}
