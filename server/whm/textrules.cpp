#include "textrules.h"

#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

#include <algorithm>

namespace {

bool isLineBreak(char c) {
    return c == '\r' || c == '\n';
}

bool isAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string percentEncode(std::string_view text) {
    return boost::urls::encode(text, boost::urls::unreserved_chars);
}

bool isControlCharacter(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

bool holdsControlCharacter(std::string_view text, bool lineBreaksAllowed) {
    return std::any_of(text.begin(), text.end(), [&](char c) {
        return isControlCharacter(c) && !(lineBreaksAllowed && isLineBreak(c));
    });
}

std::string cutShort(std::string_view text, std::size_t maxBytes, std::string_view mark) {
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes > mark.size() ? maxBytes - mark.size() : 0;
    // Back to the start of a UTF-8 character, so the cut leaves no half of one.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end)).append(mark);
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isDnsLabel(std::string_view label) {
    return !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-' &&
           std::all_of(label.begin(), label.end(),
                       [](char c) { return isAsciiLetterOrDigit(c) || c == '-'; });
}
