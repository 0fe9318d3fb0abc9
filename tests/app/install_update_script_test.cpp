// The install script on a sample application folder: it replaces the folder
// only with a sound archive, and always leaves an application to start.
#include <filesystem>
#include <map>
#include <optional>

#include "app/install_script_fixture.h"

namespace hw::test {
namespace {

TEST_F(InstallScriptTest, AnUnsoundArchiveLeavesTheApplicationAndStartsItAgain) {
    auto with = [this](ZipEntry extra) {
        auto entries = newApp();
        entries.push_back(std::move(extra));
        return zipArchive(entries);
    };
    // The new application with one entry changed (or, without a replacement, left out).
    auto changed = [this](const std::string& name, std::optional<ZipEntry> replacement) {
        std::vector<ZipEntry> entries;
        for (auto& e : newApp()) {
            if (e.name != name) entries.push_back(e);
            else if (replacement) entries.push_back(*replacement);
        }
        return zipArchive(entries);
    };
    auto twoTops = newApp();
    for (auto& e : newApp("Other/")) twoTops.push_back(e);
    ZipEntry zeros{"Havenway/zeros", std::string(1024, '\0')};
    // Made on another system, it lists as a plain file and unpacks as a link.
    auto foreignLink = [](const std::string& name, const std::string& target) {
        return ZipEntry{name, target, 0120777, 0, 2};
    };
    // A network module found outside the bundle, through a link.
    std::filesystem::create_directories(dir.file("outside/havenway"));
    TempDir::write(dir.file("outside/havenway/havenway-network.so"), stub());
    std::vector<ZipEntry> libOutside;
    for (auto& e : newApp())
        if (e.name.rfind("Havenway/lib/", 0) != 0) libOutside.push_back(e);
    libOutside.push_back(foreignLink("Havenway/lib", dir.file("outside")));
    std::string otherMachine = stub();
    otherMachine[18] = static_cast<char>(otherMachine[18] == 0x3E ? 0xB7 : 0x3E);  // x86-64 or AArch64
    otherMachine[19] = 0;
    const auto noBinary = changed("Havenway/bin/havenway", std::nullopt);

    struct Row {
        const char* name;
        std::string archive;
        std::string folder = "";  // where the application lies, below the test's folder
        std::map<std::string, std::string> session = {};  // the quitting application's environment
    };
    const Row rows[] = {
        {"a name climbing out", with({"../x", "escaped"})},
        {"a name climbing out inside", with({"Havenway/../../x", "escaped"})},
        {"an absolute name", with({"/tmp/havenway-abs-x", "escaped"})},
        {"a link out of the folder", with({"Havenway/etc", "/etc", 0120777})},
        {"a link from another system to a file outside", with(foreignLink("Havenway/out", "/etc/shadow"))},
        {"a link from another system climbing out", with(foreignLink("Havenway/up", "../../../../.."))},
        {"a link from another system to the network module's folder", zipArchive(libOutside)},
        {"two top folders", zipArchive(twoTops)},
        {"no Havenway folder", zipArchive(newApp("Other/"))},
        {"a corrupt archive", "PK\x03\x04 not really a zip archive"},
        {"an empty file", ""},
        // Nothing that could be started again.
        {"no binary", noBinary},
        {"a binary not executable", changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway", "x", 0644})},
        {"a binary that is a folder", changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway/", ""})},
        {"an empty binary", changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway", "", 0755})},
        {"a binary that is a script",
         changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway", startedBy("new"), 0755})},
        {"a binary of another machine",
         changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway", otherMachine, 0755})},
        {"no install script", changed("Havenway/share/havenway/install-update.sh", std::nullopt)},
        // It would start, but never reach the backend to update again.
        {"no network module", changed("Havenway/lib/havenway/havenway-network.so", std::nullopt)},
        {"an empty network module",
         changed("Havenway/lib/havenway/havenway-network.so", ZipEntry{"Havenway/lib/havenway/havenway-network.so", ""})},
        {"a network module that is no library",
         changed("Havenway/lib/havenway/havenway-network.so",
                 ZipEntry{"Havenway/lib/havenway/havenway-network.so", "module"})},
        // Refused from the listing, before anything is unpacked.
        {"a listing past the bound", with({zeros.name, zeros.data, 0644, 1u << 30})},
        {"a listed size of 2^63", with({zeros.name, zeros.data, 0644, 1ull << 63})},
        {"an absurd expansion", with({zeros.name, zeros.data, 0644, 300u << 20})},
        {"a listing that understates", with({zeros.name, zeros.data, 0644, 1})},
        {"a newline in the folder above", noBinary, "new\nline\n"},
        // Only what the application's session holds is handed on, each variable whole.
        {"a newline in an environment value", noBinary, "",
         {{"LANG", "C.UTF-8"}, {"XDG_CONFIG_HOME", "/x\nHAVENWAY_INJECTED=1"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = dir.file(row.folder.empty() ? "apps" : row.folder);
        std::filesystem::remove_all(folder);
        std::filesystem::remove(dir.file("started"));
        std::filesystem::create_directories(folder);
        const std::string bundle = folder + "/Havenway";
        makeApp(bundle, "old");
        const std::string archive = folder + "/auto-update.zip";
        TempDir::write(archive, row.archive);
        if (row.session.empty()) {
            const auto r = install(archive, bundle);
            EXPECT_NE(r.exitCode, 0);
        } else {
            quitInto(archive, bundle, row.session);
        }
        EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "old");
        EXPECT_EQ(started(), "old --update-refused");
        EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
        EXPECT_FALSE(std::filesystem::exists("/tmp/havenway-abs-x"));
        EXPECT_TRUE(leftovers(folder).empty());
        EXPECT_FALSE(std::filesystem::exists(archive)) << "a refused archive stays behind";
        if (!row.session.empty()) {
            const std::string env = TempDir::read(dir.file("started.env"));
            EXPECT_NE(env.find("\nLANG=C.UTF-8\n"), std::string::npos) << env;
            EXPECT_EQ(env.find("HAVENWAY_INJECTED"), std::string::npos) << env;
            EXPECT_EQ(env.find("XDG_CONFIG_HOME"), std::string::npos) << env;
        }
    }

    // An application path that is not a folder.
    std::filesystem::remove_all(dir.file("Havenway"));
    TempDir::write(dir.file("Havenway"), "a file");
    TempDir::write(dir.file("auto-update.zip"), zipArchive(newApp()));
    EXPECT_NE(install(dir.file("auto-update.zip"), dir.file("Havenway")).exitCode, 0);
    EXPECT_EQ(TempDir::read(dir.file("Havenway")), "a file");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// A sound archive replaces the application and starts the new one, wherever it lies.
TEST_F(InstallScriptTest, PathsAreTakenLiterally) {
    const std::string folder = dir.file("a b 'c' \"d\" $(touch pwned) `touch pwned2` ;x\ny\n");
    std::filesystem::create_directories(folder);
    const std::string bundle = folder + "/Havenway";
    makeApp(bundle, "old");
    const std::string archive = folder + "/auto update $(touch pwned3).zip";
    TempDir::write(archive, zipArchive(newApp()));
    const auto r = install(archive, bundle);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "new");
    EXPECT_EQ(started(), "new");
    EXPECT_TRUE(leftovers(folder).empty()) << "the old application or the unpacking stayed behind";
    EXPECT_FALSE(std::filesystem::exists(archive)) << "the installed archive stays behind";
    for (const auto& name : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.file(name)) || std::filesystem::exists(name)) << name;
    }
}

}  // namespace
}  // namespace hw::test
