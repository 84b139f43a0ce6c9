#pragma once

#include "whmbudget.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

// What became of a WHM call: the one vocabulary from the call to the page, the log line
// and the metrics. Code that maps it uses a switch, so a new value is a compile warning.
enum class WhmResult {
    Done,      // WHM did it: the command is carried out, or the list is here
    Refused,   // WHM said no: its verdict, or its refusal of the login
    Failed,    // WHM did not act: no connection, no trust, a host not allowed; for a list,
               // also an answer that is not one
    NotKnown,  // a command's request went out, but no complete, readable answer came back
    Busy,      // the gateway's limits held the call back, or stopped a list midway
    Cancelled, // given up before WHM had it: the client went away, or the gateway stopped
    NotSent,   // the gateway refused the request itself: nothing went to WHM
};

// A command's outcome, with WHM's own words for it (or why it failed), cut short.
struct WhmOutcome {
    WhmResult result = WhmResult::Failed;
    std::string reason;

    bool done() const { return result == WhmResult::Done; }
};

// A list call's outcome. When ok, body is ready to send: the names in WHM's order joined
// by the marker <BR>, none after the last, its memory still charged to the WHM budget
// (charge) until the answer has been written. A name holding the marker would split into
// entries that do not exist: it is left out and counted, and the first one kept, cut
// short, for the log. When not ok, reason says why (cut short) and there are no names.
struct WhmList {
    WhmResult result = WhmResult::Failed;
    std::string reason;
    std::string body;
    std::size_t names = 0;
    std::size_t leftOut = 0;
    std::string leftOutExample;
    std::optional<WhmBudget::Ticket> charge;

    bool ok() const { return result == WhmResult::Done; }
};

// A call that ended without a verdict from WHM, with its result: whether the request went
// out (NotKnown), did not (Failed, Cancelled), or the budget stopped it (Busy).
class WhmError : public std::runtime_error {
public:
    WhmError(WhmResult result, const std::string& reason)
        : std::runtime_error(reason), m_result(result) {}
    WhmResult result() const { return m_result; }

private:
    WhmResult m_result;
};
