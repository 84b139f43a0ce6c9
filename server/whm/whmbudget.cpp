#include "whmbudget.h"

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A call that held this much leaves free blocks that glibc keeps unless asked to trim.
constexpr std::uint64_t trimAfter = 16u << 20;

std::string mebibytes(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

} // namespace

WhmBudget::WhmBudget(std::size_t maxCalls, std::uint64_t maxBytes)
    : m_maxCalls(maxCalls), m_maxBytes(maxBytes) {}

std::optional<WhmBudget::Ticket> WhmBudget::admit(std::uint64_t bytes, std::string& refusal) {
    if (m_calls.fetch_add(1) >= m_maxCalls) {
        --m_calls;
        refusal = "The gateway is busy: " + std::to_string(m_maxCalls) +
                  " WHM calls are under way, its limit. Try again in a moment.";
        return std::nullopt;
    }
    if (!take(bytes)) {
        --m_calls;
        refusal = fullRefusal();
        return std::nullopt;
    }
    return Ticket(this, bytes);
}

std::string WhmBudget::fullRefusal() const {
    return "The gateway is busy: the WHM answers under way hold " + mebibytes(m_maxBytes) +
           ", its limit. Try again in a moment.";
}

bool WhmBudget::take(std::uint64_t bytes) {
    if (m_bytes.fetch_add(bytes) + bytes <= m_maxBytes)
        return true;
    m_bytes -= bytes;
    return false;
}

void WhmBudget::release(std::size_t calls, std::uint64_t bytes) {
    m_bytes -= bytes;
    m_calls -= calls;
#ifdef __GLIBC__
    if (bytes >= trimAfter)
        malloc_trim(0);
#endif
}

WhmBudget::Ticket::Ticket(Ticket&& other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_held(other.m_held) {}

WhmBudget::Ticket& WhmBudget::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_held = other.m_held;
    }
    return *this;
}

WhmBudget::Ticket::~Ticket() {
    release();
}

void WhmBudget::Ticket::release() {
    if (m_budget)
        m_budget->release(1, m_held);
    m_budget = nullptr;
}

bool WhmBudget::Ticket::charge(std::uint64_t bytes) {
    if (!m_budget->take(bytes))
        return false;
    m_held += bytes;
    return true;
}

void WhmBudget::Ticket::refund(std::uint64_t bytes) {
    bytes = std::min(bytes, m_held);
    m_held -= bytes;
    m_budget->release(0, bytes);
}
