#include "querytext.h"

#include <algorithm>

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string percentEncode(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out += ch;
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0f];
        }
    }
    return out;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (text[i] == '+') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string redactQuery(std::string_view target, std::initializer_list<std::string_view> keys) {
    size_t question = target.find('?');
    if (question == std::string_view::npos)
        return std::string(target);
    std::string out(target.substr(0, question + 1));
    std::string_view query = target.substr(question + 1);
    bool first = true;
    while (true) {
        size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        size_t eq = pair.find('=');
        std::string_view rawKey = pair.substr(0, eq);
        if (!first)
            out += '&';
        first = false;
        std::string key = percentDecode(rawKey);
        bool secret = std::find(keys.begin(), keys.end(), key) != keys.end();
        if (secret)
            out.append(rawKey).append("=[redacted]");
        else
            out.append(pair);
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return out;
}

bool isPlainHostName(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.')
        return false;
    size_t labelLength = 0;
    char previous = '.';
    for (char c : host) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c == '.') {
            if (previous == '.' || previous == '-')
                return false;
            labelLength = 0;
        } else if (alnum || c == '-' || c == '_') {
            if (c == '-' && previous == '.')
                return false;
            if (++labelLength > 63)
                return false;
        } else {
            return false;
        }
        previous = c;
    }
    return previous != '-';
}
