// The install script on a sample application folder: it replaces the folder
// only with a sound archive, and always leaves an application to start.
#include <filesystem>
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
    const std::pair<const char*, std::string> rows[] = {
        {"a name climbing out", with({"../x", "escaped"})},
        {"a name climbing out inside", with({"Havenway/../../x", "escaped"})},
        {"an absolute name", with({"/tmp/havenway-abs-x", "escaped"})},
        {"a link out of the folder", with({"Havenway/etc", "/etc", 0120777})},
        {"two top folders", zipArchive(twoTops)},
        {"no Havenway folder", zipArchive(newApp("Other/"))},
        {"a corrupt archive", "PK\x03\x04 not really a zip archive"},
        {"an empty file", ""},
        // Nothing that could be started again.
        {"no binary", changed("Havenway/bin/havenway", std::nullopt)},
        {"a binary not executable", changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway", "x", 0644})},
        {"a binary that is a folder", changed("Havenway/bin/havenway", ZipEntry{"Havenway/bin/havenway/", ""})},
        {"no install script", changed("Havenway/share/havenway/install-update.sh", std::nullopt)},
        // It would start, but never reach the backend to update again.
        {"no network module", changed("Havenway/lib/havenway/havenway-network.so", std::nullopt)},
        // Refused from the listing, before anything is unpacked.
        {"a listing past the bound", with({zeros.name, zeros.data, 0644, 1u << 30})},
        {"an absurd expansion", with({zeros.name, zeros.data, 0644, 300u << 20})},
        {"a listing that understates", with({zeros.name, zeros.data, 0644, 1})},
    };
    for (const auto& [name, archive] : rows) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(dir.file("Havenway"));
        std::filesystem::remove(dir.file("started"));
        const std::string bundle = dir.file("Havenway");
        makeApp(bundle, "old");
        TempDir::write(dir.file("auto-update.zip"), archive);
        const auto r = install(dir.file("auto-update.zip"), bundle);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "old");
        EXPECT_EQ(started(), "old");
        EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
        EXPECT_FALSE(std::filesystem::exists("/tmp/havenway-abs-x"));
        EXPECT_TRUE(leftovers(dir.path()).empty());
        EXPECT_FALSE(std::filesystem::exists(dir.file("auto-update.zip"))) << "a refused archive stays behind";
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
    const std::string folder = dir.file("a b 'c' \"d\" $(touch pwned) `touch pwned2` ;x");
    std::filesystem::create_directories(folder);
    const std::string bundle = folder + "/Havenway";
    makeApp(bundle, "old");
    const std::string archive = folder + "/auto update $(touch pwned3).zip";
    TempDir::write(archive, zipArchive(newApp()));
    const auto r = install(archive, bundle);
    EXPECT_EQ(r.exitCode, 0) << r.out;
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
