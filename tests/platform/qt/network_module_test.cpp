#include "platform/network_module.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "platform/qt/qt_main_queue.h"
#include "platform/shared_library.h"
#include "support/qt_test_app.h"
#include "support/scoped_env.h"

namespace hw {
namespace {

const NetworkModule* missingModule(std::string* why) {
    SharedLibrary library("/nonexistent/havenway-network.so");
    *why = library.failure();
    return nullptr;
}

// A module whose client counts what reaches it.
int droppedInModule = 0;
class CountingHttpClient final : public HttpClient {
public:
    void send(HttpRequest, std::function<void(HttpResponse)> completion) override {
        HttpResponse answer;
        answer.status = 200;
        completion(answer);
    }
    void dropConnections() override { ++droppedInModule; }
};
const NetworkModule* countingModule(std::string*) {
    static const NetworkModule module{[](MainQueue&) -> HttpClient* { return new CountingHttpClient; }, nullptr};
    return &module;
}

class LateNetworkTest : public ::testing::Test, private test::QtAppFirst {
protected:
    test::ScopedEnv module{"HAVENWAY_NETWORK_MODULE", HW_NETWORK_MODULE};
    QtMainQueue queue;

    std::vector<HttpResponse> sendAll(HttpClient& client, const std::vector<std::string>& urls, bool fromAnotherThread) {
        std::vector<HttpResponse> answers;
        auto sendOne = [&](const std::string& url) {
            HttpRequest request;
            request.url = url;
            client.send(request, [&](HttpResponse r) {
                EXPECT_TRUE(queue.isMainThread());
                answers.push_back(std::move(r));
            });
        };
        if (fromAnotherThread) {
            std::async(std::launch::async, [&] {
                for (const auto& url : urls) sendOne(url);
            }).get();
        } else {
            for (const auto& url : urls) sendOne(url);
        }
        test::spinUntil([&] { return answers.size() >= urls.size(); }, 5000);
        test::spinFor(50);
        return answers;
    }
};

// Loaded at the first request, also one sent from another thread, the
// module's client answers as the linked one does: once each, on the main thread.
TEST_F(LateNetworkTest, TheModulesClientAnswersEveryRequestOnceAfterALateLoad) {
    for (const bool fromAnotherThread : {true, false}) {
        LateHttpClient client(queue);
        const auto answers = sendAll(client, {"not a url", "ftp://127.0.0.1/file"}, fromAnotherThread);
        ASSERT_EQ(answers.size(), 2u) << fromAnotherThread;
        for (const auto& a : answers) {
            ASSERT_TRUE(a.error);
            EXPECT_EQ(a.error->code, HttpBadUrl) << a.error->message;
        }
    }
}

// Dropping the kept connections reaches the module's client once it is made;
// before the first request there are none to drop.
TEST_F(LateNetworkTest, DroppingConnectionsReachesTheModulesClientOnceMade) {
    droppedInModule = 0;
    LateHttpClient client(queue, countingModule);
    client.dropConnections();
    EXPECT_EQ(droppedInModule, 0);
    EXPECT_EQ(sendAll(client, {"http://127.0.0.1:9/"}, false).size(), 1u);
    client.dropConnections();
    EXPECT_EQ(droppedInModule, 1);
}

// Without the module nothing crashes: requests fail with the loader's reason,
// a transfer fails once, and a cancelled one says nothing.
TEST_F(LateNetworkTest, AMissingModuleFailsEachRequestWithItsReason) {
    LateHttpClient client(queue, missingModule);
    const auto answers = sendAll(client, {"http://127.0.0.1:9/", "http://127.0.0.1:9/again"}, false);
    ASSERT_EQ(answers.size(), 2u);
    for (const auto& a : answers) {
        ASSERT_TRUE(a.error);
        EXPECT_EQ(a.error->code, HttpOther);
        EXPECT_NE(a.error->message.find("/nonexistent/havenway-network.so"), std::string::npos) << a.error->message;
    }

    LateFileDownload download(queue, missingModule);
    std::vector<std::string> failures;
    FileDownloadEvents events;
    events.failed = [&](const std::string& reason) { failures.push_back(reason); };
    auto failing = download.start(FileDownloadRequest{"http://127.0.0.1:9/a", "/nonexistent/a", 1}, events);
    auto cancelled = download.start(FileDownloadRequest{"http://127.0.0.1:9/b", "/nonexistent/b", 1}, events);
    cancelled->cancel();
    test::spinFor(50);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("havenway-network.so"), std::string::npos) << failures[0];
}

}  // namespace
}  // namespace hw
