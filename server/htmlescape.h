#pragma once

#include <string>
#include <string_view>

// Makes text safe to place in HTML content or a quoted attribute: markup characters become
// entities and bytes that are not UTF-8 become U+FFFD, as the page declares UTF-8.
std::string htmlEscape(std::string_view text);
