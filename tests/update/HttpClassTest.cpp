#include <gtest/gtest.h>

#include <QTest>
#include <optional>

#include "LocalHttpServer.h"
#include "update/HTTPClass.h"

namespace {

HttpResponse Fetch(HTTPClass& client, const QString& file, const QString& method = "GET",
                   bool reload = false) {
    std::optional<HttpResponse> got;
    client.SendRequest(file, method, reload, [&](const HttpResponse& r) { got = r; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 30000)) << "no answer";
    return got.value_or(HttpResponse{});
}

QByteArray AllByteValues(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 256);
    return bytes;
}

quint16 ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class HttpClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(client.OpenHTTP("127.0.0.1", server.Port()));
    }
    const ReceivedRequest& Last() const { return server.requests.last(); }

    LocalHttpServer server;
    HTTPClass client;
};

}  // namespace

TEST(HTTPClass, URLEncodeKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(HTTPClass::URLEncode("Talvek2026xyzXYZ09"), "Talvek2026xyzXYZ09");
    EXPECT_EQ(HTTPClass::URLEncode("a b"), "a%20b");
    EXPECT_EQ(HTTPClass::URLEncode(QString(QChar(0x01)) + QChar(0x0F)), "%01%0F");
    EXPECT_EQ(HTTPClass::URLEncode("-_.~"), "%2D%5F%2E%7E");
    EXPECT_EQ(HTTPClass::URLEncode("=&%+/"), "%3D%26%25%2B%2F");
    EXPECT_EQ(HTTPClass::URLEncode(QString::fromUtf8("\u00e9\u00ff")), "%E9%FF");
    // Only the low byte of a wider character counts (U+20AC gives 0xAC).
    EXPECT_EQ(HTTPClass::URLEncode(QString::fromUtf8("\u20ac")), "%AC");
    EXPECT_EQ(HTTPClass::URLEncode(""), "");
}

TEST_F(HttpClassTest, FieldNamesIgnoreCaseAndGoIntoTheQueryStringInFirstSetOrder) {
    client.Fields("Username", "first");
    client.Fields("Password", "p w");
    client.Fields("USERNAME", "talvek");
    EXPECT_EQ(client.Fields("username"), "talvek");
    EXPECT_EQ(client.Fields("Missing"), "");
    Fetch(client, "/apps/pacs/server/talvek-mwl");
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(Last().method, "GET");
    EXPECT_EQ(Last().target, "/apps/pacs/server/talvek-mwl?Username=talvek&Password=p%20w");
    EXPECT_EQ(Last().version, "HTTP/1.1");
    EXPECT_EQ(Last().HeaderCount("content-type"), 0);
    EXPECT_TRUE(Last().body.isEmpty());
}

TEST_F(HttpClassTest, PostCarriesTheFieldsAsAFormBodyAndWithoutFieldsNothing) {
    Fetch(client, "/form", "post");
    EXPECT_EQ(Last().method, "POST");
    EXPECT_EQ(Last().target, "/form");
    EXPECT_EQ(Last().HeaderCount("content-type"), 0);
    EXPECT_TRUE(Last().body.isEmpty());

    client.Fields("Name", "Pérez, Ana");
    client.Fields("Id", "42");
    Fetch(client, "/form", "Post");
    EXPECT_EQ(Last().method, "POST");
    EXPECT_EQ(Last().target, "/form");
    EXPECT_EQ(Last().Header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(Last().body, "Name=P%E9rez%2C%20Ana&Id=42");
}

TEST_F(HttpClassTest, SendsUserAgentCredentialsAndNoCacheWhenReloading) {
    ASSERT_TRUE(client.OpenHTTP("127.0.0.1", server.Port(), "talvek", "quimbo"));
    Fetch(client, "/file", "GET", true);
    EXPECT_EQ(Last().Header("user-agent"), "HTTP Client");
    EXPECT_EQ(Last().HeaderCount("authorization"), 1);
    EXPECT_EQ(Last().Header("authorization"), "Basic " + QByteArray("talvek:quimbo").toBase64());
    EXPECT_EQ(Last().Header("cache-control"), "no-cache");
    EXPECT_EQ(Last().Header("pragma"), "no-cache");
    EXPECT_EQ(Last().HeaderCount("referer"), 0);

    ASSERT_TRUE(client.OpenHTTP("127.0.0.1", server.Port()));
    Fetch(client, "/file", "GET", false);
    EXPECT_EQ(Last().HeaderCount("authorization"), 0);
    EXPECT_EQ(Last().HeaderCount("cache-control"), 0);
    EXPECT_EQ(Last().HeaderCount("pragma"), 0);
}

TEST_F(HttpClassTest, ReturnsEveryBodyExactlyWhateverTheStatus) {
    for (const int size : {0, 1, 1023, 1024, 1025, 300000}) {
        SCOPED_TRACE(size);
        server.Respond(CannedResponse{.body = AllByteValues(size)});
        const HttpResponse got = Fetch(client, "/file");
        EXPECT_EQ(got.status, 200);
        EXPECT_EQ(got.contentLength, size);
        EXPECT_EQ(got.body, AllByteValues(size));
        EXPECT_TRUE(got.error.isEmpty()) << got.error.toStdString();
    }
    server.Respond(CannedResponse{.status = 404, .body = "<html>Not here</html>"});
    const HttpResponse page = Fetch(client, "/missing");
    EXPECT_EQ(page.status, 404);
    EXPECT_EQ(page.body, "<html>Not here</html>");
    EXPECT_TRUE(page.error.isEmpty()) << page.error.toStdString();
}

TEST_F(HttpClassTest, FailedTransfersSayWhyWithoutTheQueryString) {
    client.Fields("Password", "quimbo");
    server.Respond(CannedResponse{.body = "short", .declaredLength = 1024});
    const HttpResponse cut = Fetch(client, "/file");
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.contentLength, 1024);
    EXPECT_EQ(cut.body, "short");
    EXPECT_FALSE(cut.error.isEmpty());

    server.Respond(CannedResponse{.silent = true});
    client.SetTransferTimeout(300);
    const HttpResponse silent = Fetch(client, "/file");
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.error, "no data for 0.3 seconds");
    EXPECT_TRUE(silent.requestSent);

    ASSERT_TRUE(client.OpenHTTP("127.0.0.1", ClosedPort()));
    const HttpResponse refused = Fetch(client, "/file");
    EXPECT_EQ(refused.status, 0);
    EXPECT_FALSE(refused.error.isEmpty());
    EXPECT_FALSE(refused.requestSent);
    for (const HttpResponse& failed : {cut, silent, refused})
        EXPECT_FALSE(failed.error.contains("quimbo")) << failed.error.toStdString();
}

TEST(HTTPClass, OpensOnlyAServerItCanReach) {
    HTTPClass client;
    for (const QString& server : {"", "ftp://127.0.0.1", "https://127.0.0.1:8443",
                                  "http://127.0.0.1/path", "http://user:pw@127.0.0.1", "bad/host"})
        EXPECT_FALSE(client.OpenHTTP(server, 88)) << server.toStdString();
    EXPECT_FALSE(client.OpenHTTP("127.0.0.1", -1));
    EXPECT_FALSE(client.OpenHTTP("127.0.0.1", 65536));
    EXPECT_FALSE(client.IsOpen());
    for (const QString& server :
         {"127.0.0.1", "localhost", "http://127.0.0.1", "HTTPS://127.0.0.1/"})
        EXPECT_TRUE(client.OpenHTTP(server, 88)) << server.toStdString();

    client.CloseHTTP();
    const HttpResponse closed = Fetch(client, "/file");
    EXPECT_EQ(closed.status, 0);
    EXPECT_FALSE(closed.error.isEmpty());
}
