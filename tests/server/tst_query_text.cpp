// Query text handling: the encoding of query values, and what of a request reaches the log.
#include "querytext.h"
#include "requestlog.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

TEST(QueryText, PercentEncodingKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode("a b&c=d+e#f%g/h?i"), "a%20b%26c%3Dd%2Be%23f%25g%2Fh%3Fi");
    EXPECT_EQ(percentEncode("\r\n"), "%0D%0A");
    EXPECT_EQ(percentEncode("\xC3\xBC"), "%C3%BC");
}

TEST(QueryText, LoggedTargetKeepsOnlyHarmlessParametersWhateverTheKeySpelling) {
    EXPECT_EQ(RequestLog::harmlessTarget(
                  "/clients.php?user=root&host=h&accesshash=ABC%0D%0ADEF&acctpass=pw"),
              "/clients.php?user=root&host=h");
    // Spellings that decode to the key, or to something near it, are dropped all the same.
    EXPECT_EQ(RequestLog::harmlessTarget(
                  "/x?access%68ash=A&%09accesshash%09=B&ACCESSHASH=C&accesshash&usr=bob"),
              "/x?usr=bob");
    EXPECT_EQ(RequestLog::harmlessTarget("/x?%u0061ccesshash=KEY&user=root"), "/x")
        << "a query that cannot be read is left out whole";
    EXPECT_EQ(RequestLog::harmlessTarget("/ad.php#acctpass=KEY"), "/ad.php");
    EXPECT_EQ(RequestLog::harmlessTarget("/version.txt"), "/version.txt");
    EXPECT_EQ(RequestLog::harmlessTarget("/x?user=a+b%26c&suspenduser=s&acctuser=n&y=1"),
              "/x?user=a%20b%26c&suspenduser=s&acctuser=n");
    // The path as it came; a '+' in a value stays apart from a blank, as the handler reads it.
    EXPECT_EQ(RequestLog::harmlessTarget("/"), "/");
    EXPECT_EQ(RequestLog::harmlessTarget("//x?usr=a%2Bb+c"), "//x?usr=a%2Bb%20c");
}

TEST(QueryText, LogLinesCannotBeForgedAndAreBounded) {
    std::ostringstream out;
    {
        RequestLog log(out);
        RequestRecord record{"127.0.0.1",
                             "GET",
                             "/sus.php?suspenduser=bob",
                             200,
                             "suspendacct",
                             RequestRecord::Outcome::Refused,
                             "bad\nfake line"};
        log.request(record);
        record.detail = std::string(1'000'000, '\n');
        log.request(record);
    }
    std::istringstream lines(out.str());
    std::string forged, huge, extra;
    std::getline(lines, forged);
    std::getline(lines, huge);
    EXPECT_FALSE(std::getline(lines, extra)) << out.str().substr(0, 4096);
    EXPECT_NE(forged.find("/sus.php?suspenduser=bob 200 suspendacct refused: bad\\x0Afake line"),
              std::string::npos)
        << forged;
    EXPECT_LE(huge.size(), RequestLog::maxLineBytes + 32) << "time stamp and line, cut";
    EXPECT_EQ(huge.substr(huge.size() - 6), " [cut]");
}

// Standard error read by a journal that does not keep up: every write waits for release().
class StalledBuffer : public std::stringbuf {
public:
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_wake.notify_all();
    }

protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_released; });
        return std::stringbuf::xsputn(text, size);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_released = false;
};

TEST(QueryText, AStalledLogHoldsNoRequestUp) {
    using namespace std::chrono_literals;
    StalledBuffer stalled;
    std::ostream out(&stalled);
    RequestLog log(out);
    std::thread releaser([&] {
        std::this_thread::sleep_for(2s);
        stalled.release();
    });
    RequestRecord record;
    record.target = "/version.txt";
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20'000; ++i)
        log.request(record);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    releaser.join();
    log.flush();
    record.target = "/dl.php";
    log.request(record);
    log.flush();
    EXPECT_NE(stalled.str().find(" log lines dropped: the log could not keep up\n"),
              std::string::npos);
    EXPECT_NE(stalled.str().find("/dl.php 0"), std::string::npos) << "the log goes on";
}

} // namespace
