// The install script refuses an application folder it cannot write; as root
// only a read-only mount makes one, in a mount namespace of its own.
#include <unistd.h>

#include "app/install_script_fixture.h"

namespace hw::test {
namespace {

TEST_F(InstallScriptTest, AReadOnlyApplicationFolderIsRefusedAndLeftAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    const std::string bundle = dir.file("Havenway");
    makeApp(bundle, "old");
    TempDir::write(dir.file("auto-update.zip"), zipArchive(newApp()));
    ProcessRequest r;
    // The paths travel as arguments, never inside the program text.
    r.argv = {"unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
              "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" \"$1\" || exit 77; "
              "exec /bin/sh \"$0\" \"$2\" \"$1\"",
              std::string(HW_SOURCE_DIR) + "/resources/install-update.sh", bundle, dir.file("auto-update.zip")};
    r.environment = privateHome();
    r.timeout = std::chrono::seconds(60);
    const auto result = PosixProcessRunner().run(r);
    if (result.exitCode == 77 || !result.started) GTEST_SKIP() << "no read-only bind mount here: " << result.out;
    EXPECT_EQ(result.exitCode, 1) << result.out;
    EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "old");
    EXPECT_EQ(started(), "old --update-refused");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// An update that would not fit beside the application is refused before any
// of it is unpacked; here the application lives on a small tmpfs of its own
// (only ours to write, as any folder it is installed in must be).
TEST_F(InstallScriptTest, AnUpdateThatDoesNotFitIsRefusedBeforeUnpacking) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    const std::string apps = dir.file("apps");
    std::filesystem::create_directories(apps);
    auto entries = newApp();
    entries.push_back({"Havenway/data", std::string(3u << 20, 'x')});
    TempDir::write(dir.file("auto-update.zip"), zipArchive(entries));
    ProcessRequest r;
    // The paths travel as arguments, never inside the program text.
    r.argv = {"unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
              "mount -t tmpfs -o size=2m,mode=0755 none \"$1\" || exit 77; mkdir -p \"$1/Havenway/bin\" && "
              "cp \"$3/bin/havenway\" \"$3/bin/havenway.sh\" \"$1/Havenway/bin/\" && echo old > \"$1/Havenway/VERSION\" && "
              "exec /bin/sh \"$0\" \"$2\" \"$1/Havenway\"",
              std::string(HW_SOURCE_DIR) + "/resources/install-update.sh", apps, dir.file("auto-update.zip"),
              dir.file("template")};
    makeApp(dir.file("template"), "old");
    r.environment = privateHome();
    r.timeout = std::chrono::seconds(60);
    const auto result = PosixProcessRunner().run(r);
    if (result.exitCode == 77 || !result.started) GTEST_SKIP() << "no tmpfs here: " << result.out;
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("not enough free space"), std::string::npos) << result.err;
    EXPECT_EQ(started(), "old --update-refused");
    EXPECT_FALSE(std::filesystem::exists(dir.file("auto-update.zip")));
}

}  // namespace
}  // namespace hw::test
