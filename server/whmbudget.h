#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// What all WHM calls in flight may hold together: a number of calls and the bytes of the
// answers they keep. A call beyond it is not attempted; a call whose answer would take it
// past the bytes stops there. Safe to use from several threads.
class WhmBudget {
public:
    WhmBudget(std::size_t maxCalls, std::uint64_t maxBytes);

    // One admitted call's share; given back when it goes.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket();

        // Takes bytes more, or nothing and false when they would pass the budget.
        bool charge(std::uint64_t bytes);

    private:
        friend class WhmBudget;
        Ticket(WhmBudget* budget, std::uint64_t bytes) : m_budget(budget), m_held(bytes) {}
        WhmBudget* m_budget;
        std::uint64_t m_held;
    };

    // A place for one call holding bytes from the start, or nothing with refusal saying
    // why (a sentence a person can act on).
    std::optional<Ticket> admit(std::uint64_t bytes, std::string& refusal);

    // Why a call stopped when its answer would pass the budget's bytes.
    std::string fullRefusal() const;

private:
    bool take(std::uint64_t bytes);
    void release(std::uint64_t bytes);

    const std::size_t m_maxCalls;
    const std::uint64_t m_maxBytes;
    std::atomic<std::size_t> m_calls{0};
    std::atomic<std::uint64_t> m_bytes{0};
};
