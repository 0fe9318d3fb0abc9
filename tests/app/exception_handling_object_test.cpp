#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

#include "app/exception_handling_object.h"
#include "support/capture_log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

TEST(ExceptionHandling, AnExceptionThatEndsTheProcessLeavesAPrivateReport) {
    test::TempDir dir;
    const std::string report = dir.path() + "/data/exception-report.json";
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(
        {
            static ExceptionHandlingObject handler;
            handler.initUncaughtExceptionsHandling(report);
            // What an exception escaping a thread or a destructor comes to.
            try {
                throw std::length_error("too long");
            } catch (...) {
                std::terminate();
            }
        },
        "");
    struct stat st{};
    ASSERT_EQ(::stat(report.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::vector<std::string> sent;
    ExceptionHandlingObject next([&](const std::string& stack, const std::string& type) {
        sent.push_back(type);
        EXPECT_FALSE(stack.empty());
    });
    next.initUncaughtExceptionsHandling(report);
    next.sendStoredExceptionReport();
    next.sendStoredExceptionReport();
    EXPECT_EQ(sent, std::vector<std::string>{"std::length_error"});
    std::set_terminate(nullptr);
}

TEST(ExceptionHandling, AnUnreadableStoredReportIsDroppedNotSent) {
    test::TempDir dir;
    const std::string report = dir.file("exception-report.json");
    std::ofstream(report) << "{\"type\": 12}";
    int sent = 0;
    ExceptionHandlingObject handler([&](const std::string&, const std::string&) { ++sent; });
    handler.initUncaughtExceptionsHandling(report);
    handler.sendStoredExceptionReport();
    EXPECT_EQ(sent, 0);
    EXPECT_NE(::access(report.c_str(), F_OK), 0);
    std::set_terminate(nullptr);
}

TEST(ExceptionHandling, TheLogFolderIsMadePrivateAndWhatIsThereIsLeftAlone) {
    test::TempDir dir;
    test::ScopedEnv env("HAVENWAY_LOGS_DIR", (dir.path() + "/state/havenway/logs").c_str());
    ExceptionHandlingObject::prepareDirectoryForVPNLogger();
    struct stat st{};
    ASSERT_EQ(::stat((dir.path() + "/state/havenway/logs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A file in its place stays a file.
    env.set("HAVENWAY_LOGS_DIR", dir.file("plain").c_str());
    std::ofstream(dir.file("plain")) << "x";
    ExceptionHandlingObject::prepareDirectoryForVPNLogger();
    ASSERT_EQ(::stat(dir.file("plain").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(ExceptionHandling, AStackOfFiveFramesAtMost) {
    EXPECT_LE(ExceptionHandlingObject::backtrace().size(), 5u);
    EXPECT_EQ(ExceptionHandlingObject::typeName(std::out_of_range("x")), "std::out_of_range");
}

}  // namespace
}  // namespace hw
