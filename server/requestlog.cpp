#include "requestlog.h"

#include "querytext.h"

#include <boost/url/parse.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

// Control characters would let a request forge log lines of its own. Whatever lies beyond
// a whole line's length is never looked at: the line is cut there anyway.
std::string printable(std::string_view text) {
    text = text.substr(0, RequestLog::maxLineBytes + 1);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isControlCharacter(c)) {
            auto u = static_cast<unsigned char>(c);
            static constexpr char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::string timestamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace

RequestLog::RequestLog(std::ostream& out) : m_writer(out) {}

std::string RequestLog::harmlessTarget(std::string_view target) {
    // Only parameters known to be harmless are kept, compared after decoding exactly as
    // the service reads them: a key or password under any other spelling never gets in.
    static constexpr std::string_view harmless[] = {"user", "host", "acctuser", "suspenduser",
                                                    "usr"};
    auto parsed = boost::urls::parse_origin_form(target);
    if (!parsed) // no query, nor anything after a '#', can be read from it: none is kept
        return std::string(target.substr(0, target.find_first_of("?#")));
    boost::urls::encoding_opts form;
    form.space_as_plus = true;
    // The path as it came, and the kept parameters encoded as the desktop program encodes
    // them: a '+' in a value is never mistaken for a blank.
    std::string out(parsed->encoded_path());
    char separator = '?';
    for (auto param : parsed->params(form)) {
        if (std::find(std::begin(harmless), std::end(harmless), param.key) == std::end(harmless))
            continue;
        out.append(1, separator).append(percentEncode(param.key));
        if (param.has_value)
            out.append("=").append(percentEncode(param.value));
        separator = '&';
    }
    return out;
}

std::string RequestLog::lineOf(const RequestRecord& record) {
    static constexpr const char* outcomes[] = {"",     "done",   "refused", "not known",
                                               "busy", "listed", "failed",  "cancelled"};
    std::string line = printable(record.clientAddress);
    line.append(" ").append(printable(record.method));
    line.append(" ").append(printable(record.target));
    line.append(" ").append(record.unsentBecause.empty() ? std::to_string(record.status) : "-");
    if (!record.whmFunction.empty()) {
        line.append(" ").append(printable(record.whmFunction));
        line.append(" ").append(outcomes[static_cast<std::size_t>(record.outcome)]);
    }
    if (!record.detail.empty()) {
        // "listed 4 names", "refused: reason"
        const bool reason =
            !record.whmFunction.empty() && record.outcome != RequestRecord::Outcome::Listed;
        line.append(reason ? ": " : " ").append(printable(record.detail));
    }
    if (!record.unsentBecause.empty())
        line.append(" (no answer sent: ").append(printable(record.unsentBecause)).append(")");
    return line;
}

void RequestLog::request(const RequestRecord& record) {
    write(lineOf(record));
}

void RequestLog::note(std::string_view text) {
    write(printable(text));
}

void RequestLog::flush() {
    m_writer.flush();
}

void RequestLog::write(std::string line) {
    if (line.size() > maxLineBytes)
        line = cutShort(line, maxLineBytes, " [cut]");
    m_writer.post(timestamp() + " " + line);
}
