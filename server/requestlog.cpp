#include "requestlog.h"

#include "querytext.h"

#include <chrono>
#include <ctime>

namespace {

// Control characters would let a request forge log lines of its own.
std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
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

RequestLog::RequestLog(std::ostream& out) : m_out(out) {}

std::string RequestLog::redactedTarget(std::string_view target) {
    return redactQuery(target, {"accesshash", "acctpass"});
}

void RequestLog::request(std::string_view remoteAddress, std::string_view method,
                         std::string_view target, int status) {
    write(printable(remoteAddress) + " " + printable(method) + " " +
          printable(redactedTarget(target)) + " " + std::to_string(status));
}

void RequestLog::whmFailure(std::string_view function, std::string_view host,
                            std::string_view reason) {
    write("WHM " + printable(function) + " on " + printable(host) +
          " failed: " + printable(reason));
}

void RequestLog::note(std::string_view text) {
    write(printable(text));
}

void RequestLog::write(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_out << timestamp() << " " << line << '\n' << std::flush;
}
