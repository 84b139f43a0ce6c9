#pragma once

#include "whmapi.h"
#include "whmsimulator.h"

#include <atomic>
#include <chrono>

// A WHM that takes its time: each call waits on a timer, which honours cancellation as a
// WHM client's call does (or, when told, ignores it), then answers as the simulator
// would. Counts the calls begun and the calls cancelled.
class SlowWhm : public WhmApi {
public:
    explicit SlowWhm(std::chrono::milliseconds delay, bool honoursCancellation = true)
        : m_delay(delay), m_honoursCancellation(honoursCancellation) {}

    int begun() const { return m_begun; }
    int cancelled() const { return m_cancelled; }

protected:
    boost::asio::awaitable<void> send(const WhmRequest& request, std::string_view authorization,
                                      WhmCallKind kind, WhmAnswerReader& reader) override;

private:
    std::chrono::milliseconds m_delay;
    bool m_honoursCancellation;
    WhmSimulator m_simulator;
    std::atomic<int> m_begun{0};
    std::atomic<int> m_cancelled{0};
};
