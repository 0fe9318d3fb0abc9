// The download adapter against a scripted loopback server: what reaches the
// destination, what is left behind, and which events arrive where.
#include "platform/qt/qt_file_download.h"

#include <gtest/gtest.h>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <filesystem>

#include "platform/qt/qt_main_queue.h"
#include "support/qt_test_app.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

// Answers each request with the given bytes, then closes the connection or holds it open.
class ScriptedServer {
public:
    ScriptedServer(std::string answer, bool holdOpen) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this, answer, holdOpen] {
            QTcpSocket* c = server_.nextPendingConnection();
            QObject::connect(c, &QTcpSocket::readyRead, c, [this, c, answer, holdOpen] {
                requestSeen += c->readAll().toStdString();
                if (requestSeen.find("\r\n\r\n") == std::string::npos) return;
                c->write(answer.data(), static_cast<qint64>(answer.size()));
                if (!holdOpen) c->disconnectFromHost();
            });
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/auto-update.zip"; }
    std::string requestSeen;

private:
    QTcpServer server_;
};

std::string answer(const std::string& status, const std::string& headers, const std::string& body,
                   std::size_t declared) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(declared) + "\r\n" + headers + "\r\n" + body;
}

class QtFileDownloadTest : public ::testing::Test, private test::QtAppFirst {
protected:
    void SetUp() override {
        ::unsetenv("HAVENWAY_TEST_CA");
        test::TempDir::write(destination, "the archive from before");
    }
    std::unique_ptr<FileDownloadTask> start(const std::string& url, double timeoutSeconds = 15.0) {
        FileDownloadEvents e;
        e.response = [this](const FileDownloadResponse& r) { note("response " + std::to_string(r.status)); headers = r.headers; };
        e.block = [this](std::int64_t n) { bytes += n; };
        e.finished = [this] { note("finished"); };
        e.failed = [this](const std::string&) { note("failed"); };
        return download.start({url, destination, timeoutSeconds}, e);
    }
    void note(const std::string& what) {
        events.push_back(what);
        offMain += QThread::currentThread() != test::qtTestApp().thread();
    }
    bool ended() const {
        return !events.empty() && (events.back() == "finished" || events.back() == "failed");
    }
    // Everything in the folder but the destination.
    std::vector<std::string> strays() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            if (e.path() != destination) names.push_back(e.path().filename().string());
        }
        return names;
    }

    test::TempDir dir;
    std::string destination = dir.file("auto-update.zip");
    QtMainQueue queue;
    QtFileDownload download{queue};
    std::vector<std::string> events;
    std::map<std::string, std::string> headers;
    std::int64_t bytes = 0;
    int offMain = 0;
};

TEST_F(QtFileDownloadTest, AWholeAnswerReplacesTheDestinationAsSentAndPrivate) {
    // Compressed on the wire: it must be kept as it came, never decoded.
    const std::string gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00", 20);
    ScriptedServer server(answer("200 OK", "Content-Encoding: gzip\r\nContent-Disposition: attachment; critical\r\n", gzip, gzip.size()), false);
    auto task = start(server.url());
    ASSERT_TRUE(test::spinUntil([&] { return ended(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"response 200", "finished"}));
    EXPECT_EQ(headers["content-disposition"], "attachment; critical") << "names are lower case";
    EXPECT_EQ(test::TempDir::read(destination), gzip);
    EXPECT_EQ(bytes, 20);
    EXPECT_EQ(test::TempDir::mode(destination), 0600u);
    EXPECT_TRUE(strays().empty());
    EXPECT_EQ(offMain, 0);
    EXPECT_NE(server.requestSeen.find("Accept-Encoding: identity"), std::string::npos) << server.requestSeen;
}

TEST_F(QtFileDownloadTest, AnUnfinishedOrRefusedTransferLeavesTheDestinationAsItWas) {
    struct Row {
        const char* name;
        std::string answer;
        bool holdOpen;
        double timeout;
    };
    const Row rows[] = {
        {"closed early", answer("200 OK", "", "only part", 1000), false, 15.0},
        {"an error page", answer("404 Not Found", "", "not here", 8), false, 15.0},
        {"silent past the timeout", answer("200 OK", "", "a little", 1000), true, 0.3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        ScriptedServer server(row.answer, row.holdOpen);
        auto task = start(server.url(), row.timeout);
        ASSERT_TRUE(test::spinUntil([&] { return ended(); }, 10000));
        EXPECT_EQ(events.back(), "failed");
        EXPECT_EQ(test::TempDir::read(destination), "the archive from before");
        EXPECT_TRUE(strays().empty());
    }
}

TEST_F(QtFileDownloadTest, CancelEndsItWithoutAnotherEventAndRemovesThePart) {
    ScriptedServer server(answer("200 OK", "", "the first part", 1000), true);
    auto task = start(server.url());
    ASSERT_TRUE(test::spinUntil([&] { return bytes > 0; }));
    task->cancel();
    const auto seen = events;
    test::spinUntil([&] { return strays().empty(); }, 5000);
    test::spinFor(100);
    EXPECT_EQ(events, seen) << "an event after the cancel";
    EXPECT_TRUE(strays().empty());
    EXPECT_EQ(test::TempDir::read(destination), "the archive from before");
}

}  // namespace
}  // namespace hw
