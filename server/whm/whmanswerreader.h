#pragma once

#include "whmbudget.h"
#include "whmresult.h"

#include <memory>
#include <string_view>

// Reads one WHM API 1 answer as it arrives, in pieces of any size, without building its
// JSON document: the one reader for lists and commands. A command keeps only what its
// page shows (metadata.result, metadata.reason and WHM's older error text, cut short); a
// list also keeps its names, joined as they are sent on. JSON nesting is limited, and
// where a key comes twice the last one counts, as in a parsed document.
class WhmAnswerReader {
public:
    // WHM's reason is cut to this many bytes as it is read.
    static constexpr std::size_t maxReasonBytes = 2000;

    // A command's answer.
    WhmAnswerReader();
    // A list's answer: the names data[arrayKey][i][nameKey]. The keys must outlive it.
    WhmAnswerReader(std::string_view arrayKey, std::string_view nameKey);
    ~WhmAnswerReader();
    WhmAnswerReader(const WhmAnswerReader&) = delete;
    WhmAnswerReader& operator=(const WhmAnswerReader&) = delete;

    // The names' memory is charged to ticket as it grows (nothing without one). The
    // reader holds the ticket, and a list's outcome takes it on with the names.
    void chargeTo(WhmBudget::Ticket ticket);

    // The answer's HTTP status, before any of its body.
    void begin(int status);
    // The next piece of the body. False once the reader needs no more: the verdict is in
    // (the JSON is broken) or the names would pass the budget.
    bool write(std::string_view part);
    // The body is complete.
    void end();
    // A whole answer at once: begin(), write() and end().
    void read(int status, std::string_view body);

    bool overBudget() const;

    // The verdict, once the answer is read (end() called or write() said no more).
    WhmOutcome command();
    WhmList list();

    // A whole answer at once.
    static WhmOutcome readCommand(int status, std::string_view body);
    static WhmList readList(int status, std::string_view body, std::string_view arrayKey,
                            std::string_view nameKey);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
