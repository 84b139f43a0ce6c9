#include "querytext.h"

#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

std::string percentEncode(std::string_view text) {
    return boost::urls::encode(text, boost::urls::unreserved_chars);
}

bool isControlCharacter(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
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
