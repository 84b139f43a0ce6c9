#pragma once

#include "addressslots.h"
#include "routes.h"
#include "whmapi.h"
#include "whmresult.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

// What the gateway has done and holds now, as Prometheus reads it (GET /metrics): requests
// by path and status, WHM calls by function and outcome with their durations, client
// connections open and refused, and what the WHM side and the log report. Labels are only
// paths the gateway serves, statuses, functions, outcomes and caps: never a name, a host,
// an account or a key. Safe to use from several threads.
class GatewayMetrics {
public:
    enum class Cap { Total, PerAddress };

    // What is in use when the metrics are read, from the parts that hold it.
    struct Now {
        std::size_t clientConnections = 0;
        WhmUsage whm;
        std::uint64_t logLinesDropped = 0;
    };

    // A request and its status; a path the gateway does not serve counts as "other".
    void countRequest(const Route* route, int status);
    void countWhmCall(std::string_view function, WhmResult result,
                      std::chrono::steady_clock::duration took);
    void countRefusedConnection(Cap cap);

    // The exposition text.
    std::string render(const Now& now) const;

    // The client connections, counted where they are held.
    const AddressSlots* connections = nullptr;

private:
    // Upper bounds of the duration histogram's buckets, in seconds: from a quick list to
    // the longest account creation.
    static constexpr std::array<double, 12> buckets = {0.05, 0.1, 0.25, 0.5, 1,   2.5,
                                                       5,    10,  25,   50,  120, 240};
    struct Durations {
        std::array<std::uint64_t, buckets.size()> counts{};
        std::uint64_t count = 0;
        double sum = 0;
    };

    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, int>, std::uint64_t> m_requests;
    std::map<std::pair<std::string, std::string>, std::uint64_t> m_calls;
    std::map<std::string, Durations> m_durations;
    std::array<std::atomic<std::uint64_t>, 2> m_refused{};
};
