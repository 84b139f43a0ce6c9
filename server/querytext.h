#pragma once

#include <string>
#include <string_view>

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
std::string percentEncode(std::string_view text);

// Whether text can stand as the host of a https:// address: a DNS name or an IPv4 address.
// Anything else (a scheme, a path, a port, blanks) is refused before a connection is tried.
bool isPlainHostName(std::string_view host);
