#include "platform/qt/qt_http_client.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/qt/qt_main_queue.h"
#include "support/capture_log.h"
#include "support/qt_test_app.h"
#include "testbed/testbed_env.h"

namespace {

using hw::HttpRequest;
using hw::HttpResponse;

using hw::test::spinFor;
using hw::test::spinUntil;

HttpRequest request(std::string method, std::string url, double timeoutMs = 20000, hw::HttpHeaders headers = {},
                    std::string body = {}) {
    HttpRequest r;
    r.method = std::move(method);
    r.url = std::move(url);
    r.timeoutMs = timeoutMs;
    r.headers = std::move(headers);
    r.body = std::move(body);
    return r;
}

class QtHttpClientTest : public ::testing::Test, private hw::test::QtAppFirst {
protected:
    void SetUp() override { ::unsetenv("HAVENWAY_TEST_CA"); }
    // Let Qt finish its connection teardown before the process ends.
    void TearDown() override { spinFor(50); }
    // One request; asserts that its completion ran exactly once, on the main thread.
    HttpResponse run(hw::QtHttpClient& client, HttpRequest request) {
        int calls = 0;
        bool onMain = false;
        HttpResponse out;
        client.send(std::move(request), [&](HttpResponse r) {
            ++calls;
            onMain = QThread::currentThread() == hw::test::qtTestApp().thread();
            out = std::move(r);
        });
        EXPECT_TRUE(spinUntil([&] { return calls > 0; }));
        spinFor(30);
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(onMain);
        return out;
    }
    hw::QtMainQueue queue_;
};

TEST_F(QtHttpClientTest, TalksHttpsToTheTestbedOnlyThroughTheTestCa) {
    HW_REQUIRE_TESTBED(env);
    hw::QtHttpClient untrusting(queue_);
    auto refused = run(untrusting, request("GET", env.webUrl() + "/probe"));
    EXPECT_EQ(refused.error ? refused.error->code : -1, hw::HttpTlsFailed);
    EXPECT_EQ(refused.status, 0);

    env.exportToEnvironment();
    hw::QtHttpClient client(queue_);

    auto info = run(client, request("GET", env.webUrl() + "/api/ipinfo"));
    ASSERT_FALSE(info.error) << info.error->message;
    EXPECT_NE(info.header("content-type").value_or("").find("application/json"), std::string::npos);

    auto headRequest = request("HEAD", env.backendUrl());
    headRequest.ignoreCache = true;
    auto head = run(client, headRequest);
    ASSERT_FALSE(head.error);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());

    auto missing = run(client, request("GET", env.webUrl() + "/no/such/page"));
    ASSERT_FALSE(missing.error) << "an HTTP error status is an answer, not a transport failure";
    EXPECT_EQ(missing.status, 404);
}

TEST_F(QtHttpClientTest, PostsBodiesAndHeadersAndNeverLogsThem) {
    HW_REQUIRE_TESTBED(env);
    env.exportToEnvironment();
    auto log = hw::test::CaptureLog::install();
    hw::QtHttpClient client(queue_);

    // Base64 "+" must travel unescaped; a wrong token is refused with errorCode 21.
    auto refused = run(client, request("POST", env.webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php?token=QUERYSECRET",
                                        20000, {{"Content-Type", "application/x-www-form-urlencoded"}},
                                        "email=a+b/c==&uuid=U1&token=BODYSECRET"));
    ASSERT_FALSE(refused.error);
    EXPECT_NE(refused.body.find("\"errorCode\":21"), std::string::npos) << refused.body;

    auto fn = run(client, request("POST", env.parseUrl() + "/functions/getNotificationsDataV2", 20000,
                                   {{"X-Parse-Application-Id", env.get("HAVENWAY_TESTBED_APP_ID")},
                                    {"X-Parse-Client-Key", env.get("HAVENWAY_TESTBED_CLIENT_KEY")},
                                    {"Content-Type", "application/json"}},
                                   "{}"));
    EXPECT_NE(fn.body.find("toptextbold"), std::string::npos);

    EXPECT_FALSE(log->contains("BODYSECRET"));
    EXPECT_FALSE(log->contains("QUERYSECRET"));
    EXPECT_FALSE(log->contains(env.get("HAVENWAY_TESTBED_CLIENT_KEY")));
    hw::log::setSink(nullptr);
}

TEST_F(QtHttpClientTest, ReportsTimeoutsRefusalsAndBadAddresses) {
    hw::QtHttpClient client(queue_);
    QTcpServer silent;  // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    auto slow = run(client, request("GET", "http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/", 200.7));
    ASSERT_TRUE(slow.error);
    EXPECT_EQ(slow.error->code, hw::HttpTimedOut);

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const auto port = closed.serverPort();
    closed.close();
    auto refused = run(client, request("GET", "http://127.0.0.1:" + std::to_string(port) + "/", 5000));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, hw::HttpCannotConnect);

    for (const char* url : {"ftp://127.0.0.1/file", "not a url", "https://", ""}) {
        auto bad = run(client, request("GET", url));
        ASSERT_TRUE(bad.error) << url;
        EXPECT_EQ(bad.error->code, hw::HttpBadUrl) << url;
    }
}

// A kept connection may run over a route the tunnel has replaced since.
TEST_F(QtHttpClientTest, AFreshConnectionRequestNeverReusesAKeptConnection) {
    QTcpServer server;  // answers every request, keeping the connection open
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (auto* socket = server.nextPendingConnection()) {
            ++connections;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (!socket->readAll().contains("\r\n\r\n")) return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nok");
            });
        }
    });
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string url = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/";
    hw::QtHttpClient client(queue_);
    EXPECT_EQ(run(client, request("GET", url)).status, 200);
    EXPECT_EQ(run(client, request("GET", url)).status, 200);
    EXPECT_EQ(connections, 1);
    auto fresh = request("GET", url);
    fresh.freshConnection = true;
    EXPECT_EQ(run(client, fresh).body, "ok");
    EXPECT_EQ(connections, 2);
}

// The first connection swallows its request, as one through a tunnel that
// ended does; once connections are dropped the request goes again on a new
// one and its completion runs once, with that answer. A request sent once
// (a sign-out the server may have done already) ends in its error instead.
TEST_F(QtHttpClientTest, DroppedConnectionsSendTheRequestsInFlightAgainOnFreshOnes) {
    struct Row {
        const char* name;
        bool sendOnce;
        int connections;
    };
    for (const Row& row : {Row{"sent again", false, 2}, Row{"sent once", true, 1}}) {
        QTcpServer server;
        int connections = 0;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            while (auto* socket = server.nextPendingConnection()) {
                const bool answers = ++connections > 1;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, answers] {
                    if (!socket->readAll().contains("\r\n\r\n") || !answers) return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nok");
                });
            }
        });
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        const std::string url = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/";
        hw::QtHttpClient client(queue_);
        int calls = 0;
        HttpResponse got;
        auto post = request("POST", url, 60000, {}, "body");
        post.sendOnce = row.sendOnce;
        client.send(post, [&](HttpResponse r) {
            ++calls;
            got = std::move(r);
        });
        ASSERT_TRUE(spinUntil([&] { return connections == 1; })) << row.name;
        spinFor(50);
        EXPECT_EQ(calls, 0) << row.name;
        client.dropConnections();
        ASSERT_TRUE(spinUntil([&] { return calls > 0; })) << row.name;
        spinFor(30);
        EXPECT_EQ(calls, 1) << row.name;
        EXPECT_EQ(connections, row.connections) << row.name;
        if (row.sendOnce) {
            ASSERT_TRUE(got.error) << row.name;
            EXPECT_EQ(got.error->code, hw::HttpCancelled);
        } else {
            EXPECT_EQ(got.status, 200);
            EXPECT_EQ(got.body, "ok");
        }
        // Later requests go on the new connections too.
        EXPECT_EQ(run(client, request("GET", url)).body, "ok") << row.name;
    }
}

// Offline, as at a first start: the launch drops its connections while its
// first requests have failed on Qt's HTTP thread and their reports wait on
// the main thread. Each request is sent again and fails once, and no reply
// reports an error twice.
TEST_F(QtHttpClientTest, OfflineADropWhileFailuresAreOnTheirWayReportsEachOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
    // This thread, and those Qt's network starts from it later: no route anywhere.
    ASSERT_EQ(::unshare(CLONE_NEWNET), 0) << std::strerror(errno);
    static std::vector<std::string> warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type >= QtWarningMsg) warnings.push_back(text.toStdString());
    });
    hw::QtHttpClient client(queue_);
    std::vector<HttpResponse> got;
    for (const char* url : {"https://192.0.2.1/parse/config", "http://192.0.2.1:8080/"})
        client.send(request("GET", url), [&](HttpResponse r) { got.push_back(std::move(r)); });
    // The HTTP thread finds no route at once; the main thread stays busy meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client.dropConnections();
    EXPECT_TRUE(spinUntil([&] { return got.size() == 2; }, 20000));
    spinFor(200);
    qInstallMessageHandler(previous);
    EXPECT_EQ(got.size(), 2u);
    for (const auto& r : got) {
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->code, hw::HttpCannotConnect) << r.error->message;
    }
    EXPECT_EQ(warnings, std::vector<std::string>{});
}

TEST_F(QtHttpClientTest, CompletesOnTheMainThreadWhenSentFromAnother) {
    hw::QtHttpClient client(queue_);
    int calls = 0;
    bool onMain = false;
    std::thread worker([&] {
        client.send(request("GET", "not a url"), [&](HttpResponse) {
            ++calls;
            onMain = QThread::currentThread() == hw::test::qtTestApp().thread();
        });
    });
    worker.join();
    ASSERT_TRUE(spinUntil([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
}

TEST_F(QtHttpClientTest, CancelsRequestsInFlightWhenDestroyed) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    int calls = 0;
    std::optional<HttpResponse> got;
    {
        hw::QtHttpClient client(queue_);
        client.send(request("GET", "http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/", 60000),
                    [&](HttpResponse r) {
                        ++calls;
                        got = std::move(r);
                    });
        spinUntil([&] { return silent.hasPendingConnections(); }, 2000);
    }
    ASSERT_TRUE(spinUntil([&] { return calls > 0; }));
    spinFor(30);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(got && got->error);
    EXPECT_EQ(got->error->code, hw::HttpCancelled);
}


// An answer past the request's bound is refused as it comes: by the length it
// announces, before the body (which never comes here) would have arrived; or,
// without one, once more than the bound arrived, not handed over.
TEST_F(QtHttpClientTest, AnAnswerPastItsBoundIsRefusedBeforeItIsReadWhole) {
    constexpr qint64 kBound = 64 << 10;
    for (const bool announced : {true, false}) {
        SCOPED_TRACE(announced ? "a length of 100 MB announced" : "4 MB without a length");
        QTcpServer server;
        QObject::connect(&server, &QTcpServer::newConnection, [&server, announced] {
            auto* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, announced] {
                if (!socket->readAll().contains("\r\n\r\n")) return;
                if (announced) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n[],[],");
                    return;  // the rest never comes: only the length can end it in time
                }
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(4 << 20, '['));
                socket->disconnectFromHost();
            });
        });
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        auto log = hw::test::CaptureLog::install();
        hw::QtHttpClient client(queue_);
        auto bounded = request("GET", "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/", 15000);
        bounded.maxResponseBytes = kBound;
        QElapsedTimer elapsed;
        elapsed.start();
        const auto got = run(client, bounded);
        ASSERT_TRUE(got.error);
        EXPECT_EQ(got.error->code, hw::HttpTooLarge);
        EXPECT_TRUE(got.body.empty());
        EXPECT_LT(elapsed.elapsed(), 10000) << "refused, not timed out";
        EXPECT_TRUE(log->contains("the answer is larger than 65536 bytes; refused before it was read"));
        hw::log::setSink(nullptr);
    }
}

}  // namespace
