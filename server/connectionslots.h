#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// The client connections served at once, in all and per peer address: one address
// (one attacker) can never take every place.
class ConnectionSlots {
public:
    // A place taken; given back when released or destroyed, whichever comes first.
    class Slot {
    public:
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&&) = delete;
        ~Slot();
        void release();

    private:
        friend class ConnectionSlots;
        Slot(ConnectionSlots* owner, std::string address);
        ConnectionSlots* m_owner;
        std::string m_address;
    };

    ConnectionSlots(std::size_t total, std::size_t perAddress);
    ConnectionSlots(const ConnectionSlots&) = delete;
    ConnectionSlots& operator=(const ConnectionSlots&) = delete;

    // A place for a connection from address, or none when either cap is reached.
    std::optional<Slot> take(const std::string& address);

private:
    void giveBack(const std::string& address);

    const std::size_t m_total;
    const std::size_t m_perAddress;
    std::mutex m_mutex;
    std::size_t m_inUse = 0;
    std::map<std::string, std::size_t> m_byAddress;
};
