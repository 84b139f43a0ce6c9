// The site's pages and the version answer, on the paths the desktop program uses.
#include "awaitnow.h"
#include "gatewayhandler.h"
#include "gatewayundertest.h"
#include "whmsimulator.h"

#include <gtest/gtest.h>

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
