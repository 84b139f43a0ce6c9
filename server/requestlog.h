#pragma once

#include "logwriter.h"
#include "requestrecord.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

// The service's log: one line per request, the audit trail of who asked for what and what
// became of it, to a stream shared by all threads. Lines are bounded in length and written
// by a thread of their own (LogWriter). Secrets never reach it: a request is logged by its
// path and the parameters known to be harmless (see harmlessTarget), never the key or a
// password.
class RequestLog {
public:
    // A longer line is cut, and says so.
    static constexpr std::size_t maxLineBytes = 2048;

    explicit RequestLog(std::ostream& out);

    void request(const RequestRecord& record);
    void note(std::string_view text);
    // Waits until every line so far is written.
    void flush();

    // The target as it may be logged: its path and only the user, host and account-name
    // parameters; a target that cannot be read loses its whole query.
    static std::string harmlessTarget(std::string_view target);

private:
    // The line a record makes, without its time stamp.
    static std::string lineOf(const RequestRecord& record);
    void write(std::string line);

    LogWriter m_writer;
};
