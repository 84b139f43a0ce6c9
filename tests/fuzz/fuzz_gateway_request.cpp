// A client's request, read as the session reads it and handed to the handler, with the
// demo's WHM answering at once in memory; and what the log keeps of any target.
//
// Input: the client's address, a line break, then the request's bytes as the client sends
// them ("GET /clients.php?user=... HTTP/1.1\r\n...").
#include "gatewayhandler.h"
#include "requestlog.h"
#include "routes.h"
#include "whmsimulator.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/url/parse.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http = boost::beast::http;
namespace urls = boost::urls;

namespace {

// A check that failed: libFuzzer keeps the input that made it.
void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_gateway_request: %s\n", what);
        std::abort();
    }
}

// The query's parameters as the handler reads them, or nothing when the target cannot be
// read.
using Params = std::vector<std::pair<std::string, std::string>>;
std::optional<Params> paramsOf(std::string_view target) {
    auto url = urls::parse_origin_form(target);
    if (!url)
        return std::nullopt;
    urls::encoding_opts form;
    form.space_as_plus = true;
    Params params;
    for (auto param : url->params(form))
        params.emplace_back(param.key, param.value);
    return params;
}

bool isSecret(std::string_view key) {
    return key == "accesshash" || key == "acctpass";
}

// The target with every letter and digit of the access key's and the password's values
// moved one place on (a to b, 9 to 0): the same request as far as the gateway may care,
// with other secrets. Empty when the target cannot be read.
std::string withOtherSecrets(std::string_view target) {
    auto url = urls::parse_origin_form(target);
    if (!url)
        return {};
    urls::encoding_opts form;
    form.space_as_plus = true;
    std::string out(url->encoded_path());
    if (url->has_query())
        out += '?';
    const urls::params_view keys = url->params(form);
    auto decoded = keys.begin();
    bool first = true;
    for (auto param : url->encoded_params()) {
        out += first ? "" : "&";
        first = false;
        out += param.key;
        if (param.has_value)
            out += '=';
        std::string value(param.value);
        if (isSecret((*decoded++).key)) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                char& c = value[i];
                if (c == '%')
                    i += 2; // an escape stays as it is
                else if (c >= 'a' && c <= 'z')
                    c = static_cast<char>('a' + (c - 'a' + 1) % 26);
                else if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>('A' + (c - 'A' + 1) % 26);
                else if (c >= '0' && c <= '9')
                    c = static_cast<char>('0' + (c - '0' + 1) % 10);
            }
        }
        out += value;
    }
    return out;
}

// The reply to request from a handler in front of a new demo WHM, as the session gets it.
GatewayReply handle(const GatewayRequest& request) {
    static boost::asio::io_context context;
    WhmSimulator whm;
    GatewayHandler handler(whm);
    std::optional<GatewayReply> reply;
    boost::asio::co_spawn(context, handler.handle(request),
                          [&](std::exception_ptr error, GatewayReply r) {
                              require(!error, "the handler threw");
                              reply = std::move(r);
                          });
    context.restart();
    context.run();
    require(reply.has_value(), "the handler never finished");
    return std::move(*reply);
}

bool sameRecord(const RequestRecord& a, const RequestRecord& b) {
    return a.clientAddress == b.clientAddress && a.method == b.method && a.path == b.path &&
           a.params == b.params && a.status == b.status && a.whmFunction == b.whmFunction &&
           a.account == b.account && a.outcome == b.outcome && a.detail == b.detail &&
           a.unsentBecause == b.unsentBecause;
}

// The log keeps only what the handler reads from a target: parameters its route reads and
// keeps no secret, in the route's order, each with the first value of its key; and a
// command's line always names its function, its account and its outcome.
void checkLogged(std::string_view target, const RequestRecord& record) {
    const std::optional<Params> params = paramsOf(target);
    const Route* route = params ? routeFor(urls::parse_origin_form(target)->path()) : nullptr;
    if (!route) {
        require(record.params.empty() && record.whmFunction.empty(),
                "parameters are logged for a path the gateway does not serve");
        return;
    }
    auto first = [&](std::string_view key) -> const std::string* {
        for (const auto& [k, v] : *params)
            if (k == key)
                return &v;
        return nullptr;
    };
    std::string expected;
    for (const RouteParam& param : route->params)
        if (const std::string* value = first(param.key); value && !param.secret)
            expected +=
                (expected.empty() ? "" : "&") + std::string(param.key) + "=" + loggedValue(*value);
    require(record.params == expected, "the logged parameters are not the ones the route used");
    if (route->kind == RouteKind::Command) {
        const std::string line = RequestLog::lineOf(record);
        require(line.find(std::string(route->whmFunction) + " account=") != std::string::npos &&
                    record.outcome.has_value(),
                "a command's line lacks its function, account or outcome");
        require(line.size() <= RequestLog::maxLineBytes, "a command's line is cut");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos)
        return 0;
    const std::string clientAddress(input.substr(0, lineEnd));
    const std::string_view bytes = input.substr(lineEnd + 1);

    // Read as the session reads a request; one it cannot read never reaches the handler.
    http::request_parser<http::string_body, WipingAllocator<char>> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(16 * 1024);
    parser.eager(true);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(bytes.data(), bytes.size()), ec);
    if (ec || !parser.is_done())
        return 0;
    const GatewayRequest request{parser.release(), clientAddress};
    const std::string_view target(request.message.target().data(), request.message.target().size());
    const bool head = request.message.method() == http::verb::head;
    GatewayReply reply = handle(request);
    checkLogged(target, reply.record);

    // Every reply has a status, the record has the same, and the reply goes out as one
    // whole HTTP answer that reads back as it was.
    const int status = static_cast<int>(reply.message.result_int());
    require(status >= 100 && status <= 599, "the reply has no status");
    require(reply.record.status == status, "the log records another status");
    require(!head || reply.message.body().empty(), "a HEAD reply has a body");
    std::ostringstream sent;
    sent << reply.message;
    const std::string wire = sent.str();
    http::response_parser<http::string_body> back;
    back.skip(head);
    back.eager(true);
    back.body_limit(boost::none);
    std::size_t used = back.put(boost::asio::buffer(wire), ec);
    require(!ec && back.is_done() && used == wire.size(), "the reply is not one HTTP answer");
    require(static_cast<int>(back.get().result_int()) == status &&
                back.get().body() == reply.message.body(),
            "the reply reads back otherwise");

    // Neither the log nor the page depends on the access key or the password: with other
    // ones, the request is recorded and answered alike.
    const std::string other = withOtherSecrets(target);
    if (!other.empty() && other != target) {
        GatewayRequest changed{request.message, clientAddress};
        changed.message.target(other);
        require(paramsOf(other)->size() == paramsOf(target)->size(),
                "the secrets were not changed in place");
        GatewayReply otherReply = handle(changed);
        require(sameRecord(reply.record, otherReply.record),
                "the log record depends on the access key or the password");
        require(reply.message.body() == otherReply.message.body(),
                "the page depends on the access key or the password");
    }
    return 0;
}
