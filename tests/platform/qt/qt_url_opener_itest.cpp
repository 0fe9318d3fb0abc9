// The desktop's opener as a real process: a stand-in xdg-open on PATH that
// records what it was handed and complains on its error output, as the real
// one does when no browser is set up.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/qt/qt_url_opener.h"

namespace hw::test {
namespace {

namespace fs = std::filesystem;

TEST(QtURLOpenerProcess, HandsTheAddressOverAndKeepsTheOpenersComplaintsOutOfOurOutput) {
    char folder[] = "/tmp/hw-url-opener-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const fs::path dir(folder);
    const fs::path record = dir / "handed";
    {
        std::ofstream script(dir / "xdg-open");
        script << "#!/bin/sh\n"
               << "echo \"xdg-open: no method available for opening '$1'\" >&2\n"
               << "echo \"opening $1\"\n"
               << "printf '%s\\n' \"$#\" \"$1\" > '" << record.string() << ".tmp'\n"
               << "mv '" << record.string() << ".tmp' '" << record.string() << "'\n";
    }
    fs::permissions(dir / "xdg-open", fs::perms::owner_all);
    const std::string oldPath = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);

    const std::string url = "https://havenway.test/login?token=c2VjcmV0LXBhc3N3b3Jk";
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    QtURLOpener opener;
    const bool opened = opener.openURL(url);
    // A real process: waited for, within bounds.
    for (int i = 0; i < 500 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    ::setenv("PATH", oldPath.c_str(), 1);

    EXPECT_TRUE(opened);
    ASSERT_TRUE(fs::exists(record)) << "the opener never ran";
    std::ifstream handed(record);
    std::stringstream got;
    got << handed.rdbuf();
    EXPECT_EQ(got.str(), "1\n" + url + "\n") << "one argument: the address, as it was";
    EXPECT_EQ(err.find("c2VjcmV0"), std::string::npos) << err;
    EXPECT_EQ(out.find("c2VjcmV0"), std::string::npos) << out;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace hw::test
