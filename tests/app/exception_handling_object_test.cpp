#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/exception_handling_object.h"
#include "support/capture_log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

TEST(ExceptionHandling, AnExceptionThatEndsTheProcessLeavesAPrivateReportSentOnce) {
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
    EXPECT_EQ(test::TempDir::mode(report), 0600u);

    std::vector<std::string> sent;
    ExceptionHandlingObject next([&](const std::string& stack, const std::string& type) {
        sent.push_back(type);
        EXPECT_FALSE(stack.empty());
    });
    next.initUncaughtExceptionsHandling(report);
    next.sendStoredExceptionReport();
    next.sendStoredExceptionReport();
    EXPECT_EQ(sent, std::vector<std::string>{"std::length_error"});

    // An unreadable report is dropped, not sent.
    std::ofstream(report) << "{\"type\": 12}";
    next.sendStoredExceptionReport();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_NE(::access(report.c_str(), F_OK), 0);
    std::set_terminate(nullptr);
}

TEST(ExceptionHandling, TheLogFolderIsMadePrivateAndWhatIsThereIsLeftAlone) {
    test::TempDir dir;
    test::ScopedEnv env("HAVENWAY_LOGS_DIR", dir.file("state/havenway/logs").c_str());
    ExceptionHandlingObject::prepareDirectoryForVPNLogger();
    EXPECT_EQ(test::TempDir::mode(dir.file("state/havenway/logs")), 0700u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("state/havenway/logs")));

    env.set("HAVENWAY_LOGS_DIR", dir.file("plain").c_str());
    test::TempDir::write(dir.file("plain"), "x");
    ExceptionHandlingObject::prepareDirectoryForVPNLogger();
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("plain"))) << "a file in its place stays a file";
}

}  // namespace
}  // namespace hw
