#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// What all WHM calls in flight may hold together: a number of calls and the bytes of the
// answers they keep, until those answers have gone to their clients. A call beyond it is
// not attempted; a call whose answer would take it past the bytes stops there. Safe to use
// from several threads.
class WhmBudget {
public:
    WhmBudget(std::size_t maxCalls, std::uint64_t maxBytes);

    // One admitted call's share; given back when it goes.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        ~Ticket();

        // Takes bytes more, or nothing and false when they would pass the budget.
        bool charge(std::uint64_t bytes);
        // Gives bytes of what it holds back early.
        void refund(std::uint64_t bytes);
        std::uint64_t held() const { return m_held; }

    private:
        friend class WhmBudget;
        Ticket(WhmBudget* budget, std::uint64_t bytes) : m_budget(budget), m_held(bytes) {}
        void release();
        WhmBudget* m_budget;
        std::uint64_t m_held;
    };

    // A place for one call holding bytes from the start, or nothing with refusal saying
    // why (a sentence a person can act on).
    std::optional<Ticket> admit(std::uint64_t bytes, std::string& refusal);

    // Why a call stopped when its answer would pass the budget's bytes.
    std::string fullRefusal() const;

    // What is in use now, for the metrics.
    std::size_t callsInUse() const { return m_calls; }
    std::uint64_t bytesInUse() const { return m_bytes; }
    std::size_t maxCalls() const { return m_maxCalls; }

private:
    bool take(std::uint64_t bytes);
    void release(std::size_t calls, std::uint64_t bytes);

    const std::size_t m_maxCalls;
    const std::uint64_t m_maxBytes;
    std::atomic<std::size_t> m_calls{0};
    std::atomic<std::uint64_t> m_bytes{0};
};
