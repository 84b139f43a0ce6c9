#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
std::string percentEncode(std::string_view text);

// A C0 control character or DEL: it has no place in a header, a name or a log line.
bool isControlCharacter(char c);

// text cut to at most maxBytes on a UTF-8 character boundary, with mark where it was cut.
std::string cutShort(std::string_view text, std::size_t maxBytes,
                     std::string_view mark = "\xE2\x80\xA6");
