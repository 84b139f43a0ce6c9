#include "whmexchange.h"

#include "whmanswerreader.h"
#include "whmbudget.h"
#include "whmpool.h"
#include "whmresult.h"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

#include <optional>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t headerLimit = 16 * 1024;
// Body pieces smaller than this are gathered before the answer reader sees them: a body
// sent in small chunks costs the JSON reader no more than one sent whole.
constexpr std::size_t gatherBytes = 16 * 1024;
// Past this many chunks, chunks must hold this many bytes on average: framing the parser
// must read for every byte or two of body is not a server's output but an attack on the
// gateway's time.
constexpr std::uint64_t freeChunks = 4096;
constexpr std::uint64_t leastAverageChunk = 8;

std::string seconds(Clock::duration d) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) : std::to_string(double(ms) / 1000.0);
}

std::string sizeText(std::uint64_t bytes) {
    return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                   : std::to_string(bytes >> 10) + " KiB";
}

bool isEndOfStream(const beast::error_code& ec) {
    return ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
}

// Reads one HTTP answer's framing and hands its body to the answer reader, keeping none
// of its header fields or trailers: only the status and whether the connection may stay.
class AnswerParser : public http::basic_parser<false> {
public:
    AnswerParser(WhmAnswerReader& reader, std::uint64_t cap) : m_reader(reader) {
        eager(true);
        header_limit(headerLimit);
        body_limit(cap);
        m_gathered.reserve(gatherBytes);
    }

    int status = 0;
    bool stopped = false;    // the reader needed no more of the body
    bool splintered = false; // the body came in chunks of a byte or two

    // 100 Continue, 103 Early Hints and the like: another answer follows.
    bool interim() const { return status / 100 == 1; }

    // Hands what was gathered to the reader: once all that was read is parsed, and at the
    // answer's end.
    void flush() {
        if (!m_gathered.empty() && !stopped &&
            !m_reader.write(std::string_view(m_gathered.data(), m_gathered.size())))
            stopped = true;
        m_gathered.clear();
    }

private:
    void on_request_impl(http::verb, beast::string_view, beast::string_view, int,
                         beast::error_code&) override {}
    void on_response_impl(int code, beast::string_view, int, beast::error_code&) override {
        status = code;
    }
    void on_field_impl(http::field, beast::string_view, beast::string_view,
                       beast::error_code&) override {}
    void on_header_impl(beast::error_code&) override {
        if (!interim())
            m_reader.begin(status);
    }
    void on_body_init_impl(const boost::optional<std::uint64_t>&, beast::error_code&) override {}
    std::size_t on_body_impl(beast::string_view body, beast::error_code&) override {
        take(body);
        return body.size();
    }
    void on_chunk_header_impl(std::uint64_t, beast::string_view, beast::error_code& ec) override {
        if (++m_chunks > freeChunks && m_chunkBytes < m_chunks * leastAverageChunk) {
            splintered = true;
            ec = http::error::bad_chunk;
        }
    }
    std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view body,
                                   beast::error_code&) override {
        m_chunkBytes += body.size();
        take(body);
        return body.size();
    }
    void on_finish_impl(beast::error_code&) override { flush(); }

    void take(beast::string_view body) {
        if (stopped)
            return;
        if (m_gathered.empty() && body.size() >= gatherBytes) {
            if (!m_reader.write(std::string_view(body.data(), body.size())))
                stopped = true;
            return;
        }
        m_gathered.append(body.data(), body.size());
        if (m_gathered.size() >= gatherBytes)
            flush();
    }

    WhmAnswerReader& m_reader;
    std::string m_gathered;
    std::uint64_t m_chunks = 0;
    std::uint64_t m_chunkBytes = 0;
};

} // namespace

asio::awaitable<WhmAttempt> exchange(WhmConnection& connection, bool reused, const WhmCall& call,
                                     WhmExchangeContext services) {
    asio::cancellation_state cancellation = co_await asio::this_coro::cancellation_state;
    auto cancelled = [&] { return cancellation.cancelled() != asio::cancellation_type::none; };
    const std::string& where = call.place.where;
    if (reused) {
        beast::error_code ignored;
        connection.socket().cancel(ignored); // ends its watch in the pool
        if (!connection.quiet())
            co_return WhmAttempt::Stale;
    }
    // One deadline for the whole call, from connecting to the answer's last byte.
    connection.arm(call.place.deadline);
    struct Disarm {
        WhmConnection& c;
        ~Disarm() { c.disarm(); }
    } disarm{connection};

    bool sent = false;
    std::uint64_t received = 0;
    // Once the request went out, WHM may have acted on it whatever happens next.
    auto failure = [&](const std::string& reason) {
        return WhmError(sent          ? WhmResult::NotKnown
                        : cancelled() ? WhmResult::Cancelled
                                      : WhmResult::Failed,
                        reason);
    };
    auto failed = [&](beast::error_code ec) {
        if (cancelled())
            return failure("The call to WHM at " + where + " was cancelled");
        if (connection.timedOut())
            return failure("WHM at " + where + " gave no complete answer within " +
                           seconds(call.timeout) + " s");
        if (received > call.cap || ec == http::error::body_limit)
            return failure("WHM's answer from " + where + " is larger than " + sizeText(call.cap));
        if (isEndOfStream(ec) || ec == http::error::partial_message)
            return failure("WHM at " + where +
                           " closed the connection before its answer was complete");
        return failure("The request to WHM at " + where + " failed (" + ec.message() + ")");
    };

    try {
        if (!reused) {
            co_await connection.open(call.place, services.resolver, services.policy);
            services.pool.countOpened();
        }
        beast::error_code ec;
        sent = true;
        co_await asio::async_write(connection.stream(),
                                   asio::buffer(call.request.text().data(), call.request.size()),
                                   asio::redirect_error(asio::use_awaitable, ec));

        beast::flat_buffer& buffer = connection.buffer();
        buffer.clear();
        std::optional<AnswerParser> parser;
        parser.emplace(call.reader, call.cap);
        while (!ec) {
            // Everything read so far, answer by answer: interim ones are read past.
            while (buffer.size() > 0 && !parser->is_done() && !parser->stopped) {
                std::size_t used = parser->put(buffer.data(), ec);
                buffer.consume(used);
                if (ec == http::error::need_more) {
                    ec = {};
                    break;
                }
                if (parser->splintered)
                    throw failure("WHM's answer from " + where +
                                  " comes in chunks of a few bytes each: it is not WHM's");
                if (ec)
                    break;
                if (parser->is_done() && parser->status == 101)
                    throw failure("WHM at " + where +
                                  " answered 101 Switching Protocols to a plain request");
                if (parser->is_done() && parser->interim())
                    parser.emplace(call.reader, call.cap);
            }
            parser->flush();
            if (ec || parser->is_done() || parser->stopped)
                break;
            if (buffer.size() == buffer.max_size())
                throw failure("WHM's answer from " + where + " holds a line longer than " +
                              sizeText(WhmConnection::readBufferBytes));
            std::size_t n = co_await connection.stream().async_read_some(
                buffer.prepare(buffer.max_size() - buffer.size()),
                asio::redirect_error(asio::use_awaitable, ec));
            buffer.commit(n);
            received += n;
            if (received > call.cap)
                throw failed(ec);
            if (isEndOfStream(ec) && parser->got_some() && !connection.timedOut()) {
                // An answer that ends with its connection is complete only there.
                beast::error_code eof;
                parser->put_eof(eof);
                ec = eof ? eof : ec;
                if (!eof)
                    break;
            }
        }
        if (call.reader.overBudget())
            throw WhmError(WhmResult::Busy, services.budget.fullRefusal());
        if (parser->stopped) // the reader has its verdict: the rest is not read
            co_return WhmAttempt::Answered;
        if (!parser->is_done()) {
            // A kept-alive connection WHM closed meanwhile: a list tries once more on a new
            // one, but only if nothing of the answer came.
            if (reused && received == 0 && !connection.timedOut() && !cancelled())
                co_return WhmAttempt::Retry;
            throw failed(ec);
        }
        call.reader.end();
        // Only a complete answer that asked to stay, with nothing after it, leaves the
        // connection in step with WHM.
        if (parser->keep_alive() && connection.quiet())
            services.pool.put(call.key, connection.shared_from_this());
        co_return WhmAttempt::Answered;
    } catch (const boost::system::system_error& e) {
        // An operation begun after the call was cancelled.
        throw failed(e.code());
    }
}
