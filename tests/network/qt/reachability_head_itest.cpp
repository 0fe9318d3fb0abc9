// The backend check over real HTTPS: a server of our own on
// loopback, with a certificate made for the test and trusted through
// HAVENWAY_TEST_CA.
#include <gtest/gtest.h>

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <chrono>
#include <optional>

#include "network/reachability.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "support/child_process.h"
#include "support/qt_test_app.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

using namespace std::chrono_literals;

using test::spinUntil;

// openssl with an argv array, ten seconds at most.
bool openssl(std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    return test::runChild(std::move(args), 10s, true);
}

// Answers every request with the status of the moment; 0 means it accepts
// the connection and never says a word.
class TinyHttpsServer {
public:
    bool listen(const QString& certPath, const QString& keyPath) {
        QFile cert(certPath), key(keyPath);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) return false;
        auto conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(QSslCertificate(cert.readAll()));
        conf.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        server_.setSslConfiguration(conf);
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] {
            while (auto* s = server_.nextPendingConnection()) accept(static_cast<QSslSocket*>(s));
        });
        return server_.listen(QHostAddress::LocalHost, 0);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(server_.serverPort()); }
    int status = 200;
    int requests = 0;

private:
    void accept(QSslSocket* socket) {
        socket->setParent(&server_);
        QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket] {
            buffer_[socket] += socket->readAll();
            if (!buffer_[socket].contains("\r\n\r\n")) return;
            buffer_.remove(socket);
            ++requests;
            if (status == 0) return;
            socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        });
    }
    QSslServer server_;
    QMap<QSslSocket*, QByteArray> buffer_;
};

class HttpsReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtTestApp();
        ASSERT_TRUE(dir_.isValid());
        auto cert = dir_.filePath("cert.pem"), key = dir_.filePath("key.pem");
        if (!openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                      "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key.toStdString(),
                      "-out", cert.toStdString()})) {
            GTEST_SKIP() << "openssl cannot make a test certificate";
        }
        ::setenv("HAVENWAY_TEST_CA", cert.toUtf8().constData(), 1);
        ASSERT_TRUE(server.listen(cert, key));
        http.emplace(queue);
    }
    void TearDown() override {
        http.reset();
        ::unsetenv("HAVENWAY_TEST_CA");
        ::unsetenv("HAVENWAY_BACKEND_HOST");
    }

    std::optional<bool> check(Reachability& r) {
        std::optional<bool> answer;
        r.checkReachability([&](bool ok) { answer = ok; });
        spinUntil([&] { return answer.has_value(); });
        return answer;
    }

    QTemporaryDir dir_;
    QtMainQueue queue;
    TinyHttpsServer server;
    std::optional<QtHttpClient> http;
};

TEST_F(HttpsReachabilityTest, HeadCheckIsTrueFor200AndFalseFor503AndSilence) {
    Reachability reachability(*http, queue, 1500);
    reachability.setBackendHost(server.host());
    EXPECT_EQ(check(reachability), true);
    server.status = 503;
    EXPECT_EQ(check(reachability), false);
    server.status = 0;
    EXPECT_EQ(check(reachability), false) << "silence ends in the timeout";
    EXPECT_EQ(server.requests, 3);
}

TEST_F(HttpsReachabilityTest, TheTestbedBackendPassesTheHeadCheck) {
    HW_REQUIRE_TESTBED(env);
    env.exportToEnvironment();
    QtHttpClient client(queue);
    Reachability reachability(client, queue);
    EXPECT_EQ(reachability.backendHost(), env.get("HAVENWAY_BACKEND_HOST")) << "the redirect names the host";
    EXPECT_EQ(check(reachability), true);
}

}  // namespace
}  // namespace hw
