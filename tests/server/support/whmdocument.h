#pragma once

#include <boost/json/value.hpp>

#include <string>
#include <string_view>
#include <vector>

// WHM's answers read the plain way, as a whole JSON document: the reference that the
// streaming reader must agree with, answer for answer.
struct WhmDocument {
    bool ok = false;
    std::string reason;
    boost::json::value data;
};
WhmDocument readWhmDocument(int status, const std::string& body);

// The names data[arrayKey][i][nameKey], in WHM's order, or error saying why data is not
// such a list.
struct WhmNames {
    std::vector<std::string> names;
    std::string error;
};
WhmNames namesIn(const boost::json::value& data, std::string_view arrayKey,
                 std::string_view nameKey);
