#include "requestlog.h"

#include "textrules.h"

#include <chrono>
#include <ctime>

namespace {

std::string timestamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Characters a terminal or a log viewer may take for a line's end, beside the C0 controls:
// NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR in UTF-8, and how the log writes them.
struct LineEnd {
    std::string_view bytes;
    std::string_view escaped;
};
constexpr LineEnd lineEnds[] = {
    {"\xC2\x85", "\\u0085"}, {"\xE2\x80\xA8", "\\u2028"}, {"\xE2\x80\xA9", "\\u2029"}};

// The line end that begins at text[i], if one does.
const LineEnd* lineEndAt(std::string_view text, std::size_t i) {
    if (text[i] != '\xC2' && text[i] != '\xE2') // the only bytes that begin one
        return nullptr;
    for (const LineEnd& end : lineEnds)
        if (text.substr(i, end.bytes.size()) == end.bytes)
            return &end;
    return nullptr;
}

} // namespace

std::string printable(std::string_view text) {
    // Whatever lies beyond a whole line's length is never looked at: it is cut there.
    text = text.substr(0, RequestLog::maxLineBytes + 1);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isControlCharacter(c)) {
            auto u = static_cast<unsigned char>(c);
            out.append("\\x").append(1, digits[u >> 4]).append(1, digits[u & 0x0f]);
        } else if (const LineEnd* end = lineEndAt(text, i)) {
            out.append(end->escaped);
            i += end->bytes.size() - 1;
        } else {
            out += c;
        }
    }
    return out;
}

std::string loggedValue(std::string_view value, std::size_t maxBytes) {
    std::string encoded = percentEncode(value.substr(0, maxBytes + 1));
    if (encoded.size() <= maxBytes)
        return encoded;
    // Cut before an escape rather than through it.
    std::size_t end = maxBytes;
    if (end >= 1 && encoded[end - 1] == '%')
        end -= 1;
    else if (end >= 2 && encoded[end - 2] == '%')
        end -= 2;
    return encoded.substr(0, end) + "\xE2\x80\xA6";
}

std::string_view wordFor(WhmResult result, RouteKind kind) {
    switch (result) {
    case WhmResult::Done:
        return kind == RouteKind::List ? "listed" : "done";
    case WhmResult::Refused:
        return "refused";
    case WhmResult::Failed:
        return "failed";
    case WhmResult::NotKnown:
        return "not known";
    case WhmResult::Busy:
        return "busy";
    case WhmResult::Cancelled:
        return "cancelled";
    case WhmResult::NotSent:
        return "not sent";
    }
    return "?";
}

RequestLog::RequestLog(std::ostream& out, Options options)
    : m_options(options), m_writer(out, options.maxQueued, options.maxReserved) {}

std::optional<RequestLog::Reservation> RequestLog::reserve() {
    return m_writer.reserve();
}

// Everything before the parameters is bounded well within a line: the outcome of a
// command can never be cut off. (A client's address is one the gateway wrote, at most 45
// characters for IPv6; it is bounded here all the same.)
std::string RequestLog::lineOf(const RequestRecord& record) {
    std::string line = printable(cutShort(record.clientAddress, 64));
    line.append(" ").append(printable(cutShort(record.method, 16)));
    line.append(" ").append(printable(cutShort(record.path, 256)));
    line.append(" ").append(record.unsentBecause.empty() ? std::to_string(record.status) : "-");
    if (!record.whmFunction.empty()) {
        line.append(" ").append(record.whmFunction);
        if (record.isCommand())
            line.append(" account=").append(loggedValue(record.account));
        if (record.outcome)
            line.append(" ").append(wordFor(*record.outcome, record.kind));
    }
    if (!record.detail.empty()) {
        // "listed 4 names", "refused: reason"
        const bool reason = record.outcome && *record.outcome != WhmResult::Done;
        line.append(reason ? ": " : " ").append(printable(cutShort(record.detail, 400)));
    }
    if (!record.unsentBecause.empty())
        line.append(" (no answer sent: ").append(printable(record.unsentBecause)).append(")");
    if (!record.params.empty())
        line.append(" | ").append(printable(record.params));
    return line;
}

void RequestLog::request(const RequestRecord& record, std::optional<Reservation> reservation) {
    if (record.routed && record.kind == RouteKind::Page && !m_options.pageHits)
        return;
    write(lineOf(record), std::move(reservation));
}

void RequestLog::note(std::string_view text) {
    write(printable(text), std::nullopt);
}

void RequestLog::flush() {
    m_writer.flush();
}

void RequestLog::write(std::string line, std::optional<Reservation> reservation) {
    if (line.size() > maxLineBytes)
        line = cutShort(line, maxLineBytes, " [cut]");
    line = timestamp() + " " + line;
    if (reservation)
        m_writer.post(std::move(line), std::move(*reservation));
    else
        m_writer.post(std::move(line));
}
