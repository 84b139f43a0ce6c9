#include "querytext.h"

#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

std::string percentEncode(std::string_view text) {
    return boost::urls::encode(text, boost::urls::unreserved_chars);
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
