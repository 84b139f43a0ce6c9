#include "requestlog.h"

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include <algorithm>
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

std::string RequestLog::harmlessTarget(std::string_view target) {
    // Only parameters known to be harmless are kept, compared after decoding exactly as
    // the service reads them: a key or password under any other spelling never gets in.
    static constexpr std::string_view harmless[] = {"user", "host", "acctuser", "suspenduser",
                                                    "usr"};
    auto parsed = boost::urls::parse_origin_form(target);
    if (!parsed)
        return std::string(target.substr(0, target.find('?')));
    boost::urls::encoding_opts form;
    form.space_as_plus = true;
    boost::urls::url out;
    out.set_encoded_path(parsed->encoded_path());
    for (auto param : parsed->params(form)) {
        if (std::find(std::begin(harmless), std::end(harmless), param.key) != std::end(harmless))
            out.params().append(param);
    }
    return std::string(out.buffer());
}

void RequestLog::request(std::string_view remoteAddress, std::string_view method,
                         std::string_view target, int status) {
    write(printable(remoteAddress) + " " + printable(method) + " " +
          printable(harmlessTarget(target)) + " " + std::to_string(status));
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
