// The site's pages and the version answer, on the paths the desktop program uses.
#include "awaitnow.h"
#include "gatewayhandler.h"
#include "gatewayundertest.h"
#include "whmsimulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

class GatewayPages : public ::testing::Test {
protected:
    WhmSimulator whm;
    GatewayUnderTest gateway{whm};
};

TEST_F(GatewayPages, VersionIsTheBareNumber) {
    auto res = gateway.get("/version.txt");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "1.7") << "the program compares the whole body, line breaks included";
}

TEST_F(GatewayPages, EverySitePageIsServed) {
    for (const char* path : {"/", "/help.php", "/demolive.php", "/tips.php", "/dl.php",
                             "/partner-hosting.php", "/partner-ssl.php"}) {
        SCOPED_TRACE(path);
        auto res = gateway.get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_NE(res->get_header_value("Content-Type").find("text/html"), std::string::npos);
        EXPECT_NE(res->body.find("</html>"), std::string::npos);
        // Offline use: no page pulls anything from elsewhere.
        EXPECT_EQ(res->body.find("=\"http"), std::string::npos);
        EXPECT_EQ(res->body.find("url("), std::string::npos);
    }
    auto missing = gateway.get("/missing.php");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

// /metrics in the Prometheus text format, as promtool reads it; never a name it was sent.
TEST_F(GatewayPages, MetricsAreWhatPrometheusReads) {
    gateway.get("/clients.php",
                {{"user", "wh1zadmin"}, {"host", "wh1z.invalid"}, {"accesshash", "K3yK3y"}});
    gateway.get("/term.php", {{"user", "wh1zadmin"},
                              {"host", "wh1z.invalid"},
                              {"accesshash", "K3yK3y"},
                              {"usr", "alice"}});
    gateway.get("/nowhere");
    auto res = gateway.get("/metrics");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);
    const std::string& text = res->body;
    for (const char* line :
         {"corvala_gateway_requests_total{path=\"/clients.php\",status=\"200\"} 1",
          "corvala_gateway_requests_total{path=\"other\",status=\"404\"} 1",
          "corvala_gateway_whm_calls_total{function=\"removeacct\",outcome=\"done\"} 1",
          "corvala_gateway_whm_call_duration_seconds_count{function=\"listaccts\"} 1",
          "corvala_gateway_client_connections 1"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    for (const char* secret : {"wh1z", "K3yK3y", "alice"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    if (system("command -v promtool >/dev/null") != 0)
        GTEST_SKIP() << "promtool (Debian prometheus) is not installed";
    const std::string file = testing::TempDir() + "metrics-" + std::to_string(getpid());
    std::ofstream(file) << text;
    EXPECT_EQ(system(("promtool check metrics < " + file).c_str()), 0) << text;
    std::remove(file.c_str());
}

TEST_F(GatewayPages, FaviconIsTheProgramsIcon) {
    namespace http = boost::beast::http;
    GatewayHandler handler(whm);
    std::string icon;
    for (http::verb verb : {http::verb::get, http::verb::head}) {
        GatewayRequest request{{verb, "/favicon.ico", 11}, "127.0.0.1"};
        GatewayReply reply = awaitNow([&] { return handler.handle(request); });
        EXPECT_EQ(reply.message.result(), http::status::ok);
        EXPECT_EQ(reply.message[http::field::content_type], "image/png");
        if (verb == http::verb::get)
            icon = reply.message.body();
        else
            EXPECT_EQ(reply.message[http::field::content_length], std::to_string(icon.size()));
    }
    EXPECT_EQ(icon.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(GatewayPages, HelpExplainsTheFieldsAndTheAccessKey) {
    auto res = gateway.get("/help.php");
    ASSERT_TRUE(res);
    for (const char* text :
         {"Setup Remote Access Key", "WHM Username", "Host", "Access Key", "Create Account",
          "Suspend Account", "UnSuspend Account", "Terminate Account", "Refresh All", "Domain Name",
          "Package", "Clients", "Packages", "Result", "--whm-ca", "Manage API Tokens", "--tls-cert",
          "--whm-host"}) {
        EXPECT_NE(res->body.find(text), std::string::npos) << "help does not mention " << text;
    }
}

} // namespace
