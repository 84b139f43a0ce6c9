#pragma once

#include <string>
#include <string_view>

// Makes text safe to place in HTML content or a quoted attribute.
std::string htmlEscape(std::string_view text);
