#include "connectionslots.h"

#include <algorithm>

ConnectionSlots::ConnectionSlots(std::size_t total, std::size_t perAddress)
    : m_total(total), m_perAddress(std::max<std::size_t>(perAddress, 1)) {}

std::optional<ConnectionSlots::Slot> ConnectionSlots::take(const std::string& address) {
    std::lock_guard lock(m_mutex);
    if (m_inUse >= m_total)
        return std::nullopt;
    std::size_t& fromAddress = m_byAddress[address];
    if (fromAddress >= m_perAddress)
        return std::nullopt;
    ++fromAddress;
    ++m_inUse;
    return Slot(this, address);
}

void ConnectionSlots::giveBack(const std::string& address) {
    std::lock_guard lock(m_mutex);
    --m_inUse;
    // Only addresses with connections open are kept: the map cannot grow without bound.
    auto it = m_byAddress.find(address);
    if (--it->second == 0)
        m_byAddress.erase(it);
}

ConnectionSlots::Slot::Slot(ConnectionSlots* owner, std::string address)
    : m_owner(owner), m_address(std::move(address)) {}

ConnectionSlots::Slot::Slot(Slot&& other) noexcept
    : m_owner(other.m_owner), m_address(std::move(other.m_address)) {
    other.m_owner = nullptr;
}

ConnectionSlots::Slot::~Slot() {
    release();
}

void ConnectionSlots::Slot::release() {
    if (m_owner)
        m_owner->giveBack(m_address);
    m_owner = nullptr;
}
