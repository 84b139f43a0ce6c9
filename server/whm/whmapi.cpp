#include "whmapi.h"

#include "textrules.h"
#include "whmanswerreader.h"

#include <algorithm>

namespace {

// An API token is 32 characters; a remote access key runs to hundreds, over several lines.
constexpr std::size_t longestToken = 64;

} // namespace

Secret whmKeyWithoutLineBreaks(std::string_view key) {
    Secret line(key);
    std::erase_if(line.text(), [](char c) { return c == '\r' || c == '\n'; });
    return line;
}

WhmAuthorization whmAuthorization(std::string_view user, std::string_view key) {
    if (holdsControlCharacter(user))
        return {{}, "The WHM user name holds a control character: type it again"};
    if (holdsControlCharacter(key, true))
        return {{},
                "The access key holds a control character other than a line break: copy it "
                "from WHM again"};
    Secret line = whmKeyWithoutLineBreaks(key);
    Secret header(line.size() <= longestToken ? "whm " : "WHM ");
    header.text().append(user.data(), user.size()).append(":").append(line.text());
    return {std::move(header), {}};
}

boost::asio::awaitable<WhmOutcome> WhmApi::call(const WhmRequest& request) {
    WhmAuthorization login = whmAuthorization(request.user, request.key);
    if (!login.refusal.empty())
        co_return WhmOutcome{WhmResult::NotSent, std::move(login.refusal)};
    WhmAnswerReader reader;
    try {
        co_await send(request, login.header, WhmCallKind::Command, reader);
        co_return reader.command();
    } catch (const WhmError& e) {
        co_return WhmOutcome{e.result(), cutShort(e.what(), WhmAnswerReader::maxReasonBytes)};
    } catch (const std::exception& e) {
        // Anything else (out of memory, a socket option) is still a failed call, not a
        // failed service; the request may have gone out.
        co_return WhmOutcome{WhmResult::NotKnown,
                             std::string("The call to WHM failed: ") + e.what()};
    }
}

boost::asio::awaitable<WhmList>
WhmApi::callList(const WhmRequest& request, std::string_view arrayKey, std::string_view nameKey) {
    WhmList failed;
    WhmAuthorization login = whmAuthorization(request.user, request.key);
    if (!login.refusal.empty()) {
        failed.result = WhmResult::NotSent;
        failed.reason = std::move(login.refusal);
        co_return failed;
    }
    WhmAnswerReader reader(arrayKey, nameKey);
    try {
        co_await send(request, login.header, WhmCallKind::List, reader);
        co_return reader.list();
    } catch (const WhmError& e) {
        // A list never has an unknown outcome: WHM changes nothing for one.
        failed.result = e.result() == WhmResult::NotKnown ? WhmResult::Failed : e.result();
        failed.reason = cutShort(e.what(), WhmAnswerReader::maxReasonBytes);
    } catch (const std::exception& e) {
        failed.reason = std::string("The call to WHM failed: ") + e.what();
    }
    co_return failed;
}
