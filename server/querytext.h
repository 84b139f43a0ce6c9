#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
std::string percentEncode(std::string_view text);

// Decodes %XX and '+' (a blank in a form-encoded query); malformed escapes stay as they are.
std::string percentDecode(std::string_view text);

// A request target for the log: the values of the named query keys replaced by
// "[redacted]", whatever way the key name itself was encoded.
std::string redactQuery(std::string_view target, std::initializer_list<std::string_view> keys);

// Whether text can stand as the host of a https:// address: a DNS name or an IPv4 address.
// Anything else (a scheme, a path, a port, blanks) is refused before a connection is tried.
bool isPlainHostName(std::string_view host);
