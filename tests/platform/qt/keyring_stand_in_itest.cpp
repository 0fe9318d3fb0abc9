// The keyring's store through libsecret against a stand-in Secret Service on
// a private bus: one that never answers, one that answers late, and one whose
// unlock prompt never completes.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QElapsedTimer>
#include <future>

#include "platform/keyring_over_file_store.h"
#include "platform/libsecret_secret_store.h"
#include "support/capture_log.h"
#include "support/fake_secret_service.h"
#include "support/private_dbus.h"
#include "support/qt_test_app.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

// Runs the call off this thread, which serves the stand-in meanwhile.
template <class Call>
auto offTheMainThread(Call call) {
    auto result = std::async(std::launch::async, std::move(call));
    EXPECT_TRUE(spinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
    return result.get();
}

void dropLibsecretsService() {
    if (void* libsecret = ::dlopen("libsecret-1.so.0", RTLD_LAZY | RTLD_NOLOAD)) {
        if (auto disconnect = reinterpret_cast<void (*)()>(::dlsym(libsecret, "secret_service_disconnect"))) disconnect();
        ::dlclose(libsecret);
    }
}

TEST(KeyringStandIn, EachCallEndsWithinItsBoundAndTheFileHoldsWhatTheKeyringDidNot) {
    qtTestApp();
    if (!LibsecretSecretStore::available()) GTEST_SKIP() << "libsecret is not installed";
    PrivateDBus bus;
    std::string why;
    if (!bus.start(&why, false)) GTEST_SKIP() << "no private bus: " << why;
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str());
    using Mode = StuckPromptSecretService::Mode;
    struct Row {
        const char* name;
        Mode mode;
    };
    // The call held for ever comes last: the thread it holds is never waited for.
    const Row rows[] = {{"late", Mode::Late}, {"silent", Mode::Silent}, {"prompt never completes", Mode::StuckPrompt}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        auto log = CaptureLog::install();
        StuckPromptSecretService service(row.mode, 1500);
        ASSERT_TRUE(service.serve(QString::fromStdString(bus.address())));
        FileSecretStore file(dir.file("secrets.json"));
        auto store = std::make_unique<KeyringOverFileStore>(std::make_unique<LibsecretSecretStore>(),
                                                            std::make_unique<FileSecretStore>(file.path()), 300);
        QElapsedTimer elapsed;
        elapsed.start();
        // A read that needs the keyring (its unlock prompt, for a locked one) is
        // an error past the bound, never "nothing stored".
        EXPECT_EQ(offTheMainThread([&] { return store->read("svc", "username").status; }), SecretStatus::Error);
        // Write, read, remove: the file stands in, at once.
        EXPECT_TRUE(offTheMainThread([&] { return store->writeString("svc", "parseSessionToken", "r:1"); }));
        EXPECT_EQ(file.read("svc", "parseSessionToken").text(), "r:1");
        EXPECT_EQ(offTheMainThread([&] { return store->read("svc", "parseSessionToken").text(); }), "r:1");
        EXPECT_FALSE(offTheMainThread([&] { return store->remove("svc", "parseSessionToken"); }))
            << "not reported done while the keyring may hold it";
        EXPECT_EQ(file.read("svc", "parseSessionToken").status, SecretStatus::Absent);
        EXPECT_NE(offTheMainThread([&] { return store->read("svc", "parseSessionToken").status; }), SecretStatus::Found);
        EXPECT_LT(elapsed.elapsed(), 3000) << "one bound for the first call, none for the rest";
        EXPECT_GT(service.calls, 0) << "the stand-in was asked";
        // Quit: the store goes without waiting on the keyring.
        elapsed.restart();
        store.reset();
        EXPECT_LT(elapsed.elapsed(), 1000);
        dropLibsecretsService();
        log::setSink(nullptr);
    }
}

}  // namespace
}  // namespace hw::test
