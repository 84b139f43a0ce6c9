// WHM's answers to lists and commands, as the gateway reads them: in pieces of any size.
//
// Input: one byte for the kind of answer ('a' a list of accounts, 'p' a list of packages,
// anything else a command), three digits for the HTTP status (200 when they are not
// digits), one byte that chooses how the body is cut, then the body.
#include "whmanswerreader.h"
#include "whmdocument.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

namespace {

// A check that failed: libFuzzer keeps the input that made it.
void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_whm_answer: %s\n", what);
        std::abort();
    }
}

// Everything a reader says about one answer.
struct Reading {
    WhmList list;
    WhmOutcome command;
};

// Reads body as the WHM client does: the status, then pieces of the sizes nextPiece gives
// until the reader needs no more, then the end.
Reading readInPieces(bool isList, std::string_view arrayKey, std::string_view nameKey, int status,
                     std::string_view body, const std::function<std::size_t()>& nextPiece) {
    WhmAnswerReader reader = isList ? WhmAnswerReader(arrayKey, nameKey) : WhmAnswerReader();
    reader.begin(status);
    bool more = true;
    for (std::size_t at = 0; more && at < body.size();) {
        std::size_t piece = std::min(nextPiece(), body.size() - at);
        more = reader.write(body.substr(at, piece));
        at += piece;
    }
    if (more)
        reader.end();
    Reading reading;
    if (isList)
        reading.list = reader.list();
    else
        reading.command = reader.command();
    return reading;
}

bool sameReading(const Reading& a, const Reading& b) {
    return a.list.result == b.list.result && a.list.reason == b.list.reason &&
           a.list.body == b.list.body && a.list.names == b.list.names &&
           a.list.leftOut == b.list.leftOut && a.list.leftOutExample == b.list.leftOutExample &&
           a.command.result == b.command.result && a.command.reason == b.command.reason;
}

// How many names a list's body holds: the marker has no overlap with itself, so every
// marker in it is one that joins two names.
std::size_t namesInBody(std::string_view body, bool anyNames) {
    if (!anyNames)
        return 0;
    std::size_t count = 1;
    for (std::size_t at = body.find("<BR>"); at != std::string_view::npos;
         at = body.find("<BR>", at + 4))
        ++count;
    return count;
}

// A reason of WHM's, with the gateway's words around it, stays about this short.
constexpr std::size_t maxReasonText = WhmAnswerReader::maxReasonBytes + 200;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool accounts = input[0] == 'a', packages = input[0] == 'p';
    const bool isList = accounts || packages;
    const std::string_view arrayKey = accounts ? "acct" : "pkg";
    const std::string_view nameKey = accounts ? "user" : "name";
    int status = 200;
    if (std::isdigit(static_cast<unsigned char>(input[1])) &&
        std::isdigit(static_cast<unsigned char>(input[2])) &&
        std::isdigit(static_cast<unsigned char>(input[3])))
        status = std::atoi(std::string(input.substr(1, 3)).c_str());
    const auto cut = static_cast<std::uint32_t>(static_cast<unsigned char>(input[4]));
    const std::string_view body = input.substr(5);

    // The verdict does not depend on how the body arrives: whole, a byte at a time, or in
    // pieces of sizes the input chooses.
    const Reading whole =
        readInPieces(isList, arrayKey, nameKey, status, body, [&] { return body.size(); });
    const Reading bytes = readInPieces(isList, arrayKey, nameKey, status, body, [] { return 1; });
    std::uint32_t state = cut * 2654435761u + 1;
    const Reading pieces = readInPieces(isList, arrayKey, nameKey, status, body, [&] {
        state = state * 1664525u + 1013904223u;
        return std::size_t(1) + (state >> 16) % (cut % 97 + 1);
    });
    require(sameReading(whole, bytes), "a byte at a time, the answer reads otherwise");
    require(sameReading(whole, pieces), "cut into pieces, the answer reads otherwise");

    // The same answer read as a whole JSON document, the plain way.
    const WhmDocument document = readWhmDocument(status, std::string(body));
    const bool reasonWhole = document.reason.size() <= WhmAnswerReader::maxReasonBytes;
    if (isList) {
        const WhmList& list = whole.list;
        const WhmNames names = document.ok ? namesIn(document.data, arrayKey, nameKey) : WhmNames{};
        const bool ok = document.ok && names.error.empty();
        require(list.ok() == ok, "the list's verdict differs from the document's");
        require(list.reason.size() <= maxReasonText, "a list's reason is not cut short");
        if (!ok && reasonWhole)
            require(list.reason == (document.ok ? names.error : document.reason),
                    "the list's reason differs from the document's");
        if (ok) {
            std::string expected;
            std::size_t kept = 0, leftOut = 0;
            for (const std::string& name : names.names) {
                if (name.find("<BR>") != std::string::npos) {
                    ++leftOut;
                    continue;
                }
                expected += (kept++ ? "<BR>" : "") + name;
            }
            require(list.body == expected, "the list's names differ from the document's");
            require(list.names == kept && list.leftOut == leftOut,
                    "the list's counts differ from the document's");
            require(namesInBody(list.body, list.names > 0) == list.names,
                    "a name in the list holds the marker");
            require(list.leftOutExample.size() <= 200 &&
                        (leftOut > 0) == !list.leftOutExample.empty(),
                    "the left-out example is not one, cut short");
        } else {
            require(list.body.empty() && list.names == 0, "a failed list holds names");
        }
    } else {
        const WhmOutcome& command = whole.command;
        require(command.done() == document.ok, "the command's verdict differs from the document's");
        require(command.reason.size() <= maxReasonText, "a command's reason is not cut short");
        if (reasonWhole)
            require(command.reason == document.reason,
                    "the command's reason differs from the document's");
        require(status == 200 || !command.done(), "a command is done without a 200");
    }
    return 0;
}
