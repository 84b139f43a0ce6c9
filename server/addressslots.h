#pragma once

#include <cstddef>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Places in use (client connections, WHM calls), in all and per client address, so that
// one address (one attacker) can never take every place. An IPv6 client counts by its
// /64, the block one host or one site is given; an IPv4-mapped one by its IPv4 address.
class AddressSlots {
public:
    // A place taken; given back when released or destroyed, whichever comes first.
    class Slot {
    public:
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&& other) noexcept;
        ~Slot();
        void release();

    private:
        friend class AddressSlots;
        Slot(AddressSlots* owner, std::string key);
        AddressSlots* m_owner;
        std::string m_key;
    };

    explicit AddressSlots(std::size_t perAddress,
                          std::size_t total = std::numeric_limits<std::size_t>::max());
    AddressSlots(const AddressSlots&) = delete;
    AddressSlots& operator=(const AddressSlots&) = delete;

    enum class Cap { Total, PerAddress };

    // A place for address, or none when either cap is reached (refusedBy says which).
    // Uncapped, only the total counts: for a trusted proxy, which speaks for many.
    std::optional<Slot> take(std::string_view address, Cap* refusedBy = nullptr,
                             bool capped = true);

    std::size_t perAddress() const { return m_perAddress; }
    std::size_t inUse() const;

    // What an address counts as: itself, or its /64 for IPv6.
    static std::string keyOf(std::string_view address);

private:
    void giveBack(const std::string& key);

    const std::size_t m_total;
    const std::size_t m_perAddress;
    mutable std::mutex m_mutex;
    std::size_t m_inUse = 0;
    std::map<std::string, std::size_t> m_byKey;
};
