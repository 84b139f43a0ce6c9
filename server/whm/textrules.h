#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The rules for the texts the gateway passes on: query values, names, log lines.

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
std::string percentEncode(std::string_view text);

// A C0 control character or DEL: it has no place in a header, a name or a log line.
bool isControlCharacter(char c);

// Whether text holds a control character, line breaks (CR, LF) aside when they are
// allowed, as in a remote access key.
bool holdsControlCharacter(std::string_view text, bool lineBreaksAllowed = false);

// text cut to at most maxBytes on a UTF-8 character boundary, with mark where it was cut.
std::string cutShort(std::string_view text, std::size_t maxBytes,
                     std::string_view mark = "\xE2\x80\xA6");

// ASCII letters in lower case; host names compare so.
std::string lowerCase(std::string_view text);

// One label of a DNS name: 1 to 63 letters, digits and inner hyphens.
bool isDnsLabel(std::string_view label);
