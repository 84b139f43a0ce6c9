#include "querytext.h"

#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

std::string percentEncode(std::string_view text) {
    return boost::urls::encode(text, boost::urls::unreserved_chars);
}
