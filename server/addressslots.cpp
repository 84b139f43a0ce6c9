#include "addressslots.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <utility>

namespace ip = boost::asio::ip;

AddressSlots::AddressSlots(std::size_t perAddress, std::size_t total)
    : m_total(total), m_perAddress(std::max<std::size_t>(perAddress, 1)) {}

std::string AddressSlots::keyOf(std::string_view address) {
    boost::system::error_code ec;
    ip::address parsed = ip::make_address(std::string(address), ec);
    if (ec || !parsed.is_v6())
        return std::string(address);
    ip::address_v6 v6 = parsed.to_v6();
    if (v6.is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, v6).to_string();
    ip::address_v6::bytes_type bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return ip::address_v6(bytes).to_string() + "/64";
}

std::optional<AddressSlots::Slot> AddressSlots::take(std::string_view address, Cap* refusedBy,
                                                     bool capped) {
    std::string key = keyOf(address);
    std::lock_guard lock(m_mutex);
    auto refuse = [&](Cap cap) -> std::optional<Slot> {
        if (refusedBy)
            *refusedBy = cap;
        return std::nullopt;
    };
    if (m_inUse >= m_total)
        return refuse(Cap::Total);
    std::size_t& fromAddress = m_byKey[key];
    if (capped && fromAddress >= m_perAddress) {
        if (fromAddress == 0)
            m_byKey.erase(key);
        return refuse(Cap::PerAddress);
    }
    ++fromAddress;
    ++m_inUse;
    return Slot(this, std::move(key));
}

std::size_t AddressSlots::inUse() const {
    std::lock_guard lock(m_mutex);
    return m_inUse;
}

void AddressSlots::giveBack(const std::string& key) {
    std::lock_guard lock(m_mutex);
    --m_inUse;
    // Only addresses with places taken are kept: the map cannot grow without bound.
    auto it = m_byKey.find(key);
    if (--it->second == 0)
        m_byKey.erase(it);
}

AddressSlots::Slot::Slot(AddressSlots* owner, std::string key)
    : m_owner(owner), m_key(std::move(key)) {}

AddressSlots::Slot::Slot(Slot&& other) noexcept
    : m_owner(other.m_owner), m_key(std::move(other.m_key)) {
    other.m_owner = nullptr;
}

AddressSlots::Slot& AddressSlots::Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        release();
        m_owner = std::exchange(other.m_owner, nullptr);
        m_key = std::move(other.m_key);
    }
    return *this;
}

AddressSlots::Slot::~Slot() {
    release();
}

void AddressSlots::Slot::release() {
    if (m_owner)
        m_owner->giveBack(m_key);
    m_owner = nullptr;
}
