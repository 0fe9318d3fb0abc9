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
    r.timeout = std::chrono::seconds(60);
    const auto result = PosixProcessRunner().run(r);
    if (result.exitCode == 77 || !result.started) GTEST_SKIP() << "no read-only bind mount here: " << result.out;
    EXPECT_EQ(result.exitCode, 1) << result.out;
    EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "old");
    EXPECT_EQ(started(), "old");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

}  // namespace
}  // namespace hw::test
