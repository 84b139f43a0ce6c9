#pragma once

#include "logwriter.h"
#include "requestrecord.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

// The service's log: the audit trail of who asked for what and what became of it, one
// line per list or command, to a stream shared by all threads. Lines are bounded in
// length and written by a thread of their own (LogWriter). A command's line is never
// dropped: its place is reserved before the command is carried out. List lines and notes
// go first when the log cannot keep up, counted; page hits are not logged one by one
// unless asked. Secrets never reach it: only the parameters a route reads and does not
// keep secret.
class RequestLog {
public:
    // A longer line is cut, and says so; a record's line never comes near it.
    static constexpr std::size_t maxLineBytes = 2048;

    struct Options {
        bool pageHits = false;          // a line for each page served, too
        std::size_t maxQueued = 4096;   // lines that may be dropped
        std::size_t maxReserved = 4096; // command lines, never dropped
    };
    using Reservation = LogWriter::Reservation;

    explicit RequestLog(std::ostream& out) : RequestLog(out, Options()) {}
    RequestLog(std::ostream& out, Options options);

    // A place for a command's line, or none when the log is that far behind: then the
    // command must not be carried out.
    std::optional<Reservation> reserve();
    // Logs a record; with a reservation, its line is never dropped.
    void request(const RequestRecord& record, std::optional<Reservation> reservation = {});
    void note(std::string_view text);
    // Waits until every line so far is written.
    void flush();

    std::uint64_t droppedLines() const { return m_writer.dropped(); }

    // The line a record makes, without its time stamp.
    static std::string lineOf(const RequestRecord& record);

private:
    void write(std::string line, std::optional<Reservation> reservation);

    const Options m_options;
    LogWriter m_writer;
};

// The word the log and the metrics use for an outcome.
std::string_view wordFor(WhmResult result, RouteKind kind);

// A value as the log shows it: percent-encoded, as the desktop program sends it, and cut
// short (with "…", which no encoded text holds) beyond maxBytes.
std::string loggedValue(std::string_view value, std::size_t maxBytes = 96);

// Text with control characters, and the Unicode line and paragraph separators, written as
// escapes, so that no value can forge a line of its own.
std::string printable(std::string_view text);
