// The install script on a sample application folder: it replaces the folder
// only with a sound archive, and always leaves an application to start.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

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

// The archive's modes are its maker's: any local user could replace an
// application unpacked as they say.
TEST_F(InstallScriptTest, TheInstalledTreeGivesNoGroupOrOtherWrite) {
    const std::string bundle = dir.file("apps/Havenway");
    makeApp(bundle, "old");
    auto entries = newApp();
    for (auto& e : entries) e.mode = e.name.back() == '/' ? 040777 : 0100777;
    TempDir::write(dir.file("apps/auto-update.zip"), zipArchive(entries));
    const auto r = install(dir.file("apps/auto-update.zip"), bundle);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(TempDir::read(bundle + "/VERSION"), "new");
    EXPECT_EQ(started(), "new");
    std::vector<std::string> paths = {bundle};
    for (const auto& e : std::filesystem::recursive_directory_iterator(bundle)) paths.push_back(e.path().string());
    for (const auto& path : paths) {
        struct stat st{};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u) << path;
        EXPECT_NE(st.st_mode & S_IWUSR, 0u) << path;
    }
}

// A member whose deflate stream inflates to chunks × 16 MiB of zeros (a
// block repeated), listed at the given size: little to write, much to unpack.
ZipEntry deflatedZeros(const std::string& name, std::size_t chunks, std::uint64_t listed) {
    constexpr std::size_t chunk = 16u << 20;
    const std::string zeros(chunk, '\0');
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    auto deflated = [&z](const std::string& in, int flush) {
        std::string out(in.size() / 100 + 4096, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        EXPECT_NE(deflate(&z, flush), Z_STREAM_ERROR);
        EXPECT_EQ(z.avail_in, 0u);
        out.resize(out.size() - z.avail_out);
        return out;
    };
    // Each block ends on a byte and refers to nothing before it.
    const std::string block = deflated(zeros, Z_FULL_FLUSH);
    std::string stream;
    for (std::size_t i = 0; i < chunks; ++i) stream += block;
    stream += deflated("", Z_FINISH);
    deflateEnd(&z);
    const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    uLong crc = 0;
    for (std::size_t i = 0; i < chunks; ++i) crc = crc32_combine(crc, one, static_cast<z_off_t>(chunk));
    ZipEntry e{name, stream, 0644, listed};
    e.method = 8;
    e.crc = static_cast<std::uint32_t>(crc);
    return e;
}

TEST_F(InstallScriptTest, AHiddenStreamBehindASmallListingIsRefusedWithoutInflatingIt) {
    const std::string bundle = dir.file("apps/Havenway");
    makeApp(bundle, "old");
    auto entries = newApp();
    // 4 GiB behind a listing of 1 KiB.
    entries.push_back(deflatedZeros("Havenway/data", 256, 1024));
    TempDir::write(dir.file("apps/auto-update.zip"), zipArchive(entries));
    const auto before = std::chrono::steady_clock::now();
    const auto r = install(dir.file("apps/auto-update.zip"), bundle);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("does not unpack to the sizes it lists"), std::string::npos) << r.err;
    EXPECT_EQ(started(), "old --update-refused");
    EXPECT_TRUE(leftovers(dir.file("apps")).empty());
    // Inflating it all takes seconds on any machine; the whole script with
    // the count stopped at the listing, a fraction of one.
    EXPECT_LT(took, std::chrono::seconds(3)) << std::chrono::duration<double>(took).count() << " s";
    std::printf("[ hidden ] 4 GiB behind 1 KiB refused in %.2f s\n", std::chrono::duration<double>(took).count());
}

// The moment the script's private folder appears (seen through inotify),
// an archive listing 608 MiB, past the 512 MiB bound, is renamed over the
// checked one, as a local user who can write its folder might: either the
// checked archive is installed or the new one refused, never the other
// installed.
TEST_F(InstallScriptTest, AnArchiveRenamedOverDuringTheChecksIsNeverInstalled) {
    const std::string folder = dir.file("apps");
    const std::string bundle = folder + "/Havenway";
    const std::string archive = folder + "/auto-update.zip";
    auto hostile = newApp();
    for (auto& e : hostile)
        if (e.name == "Havenway/VERSION") e.data = "hostile";
    // Each member below the bound, as the unpacking's limit per file is.
    hostile.push_back(deflatedZeros("Havenway/zeros1", 19, 19ull << 24));
    hostile.push_back(deflatedZeros("Havenway/zeros2", 19, 19ull << 24));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove_all(folder);
        std::filesystem::remove(dir.file("started"));
        std::filesystem::create_directories(folder);
        makeApp(bundle, "old");
        TempDir::write(archive, zipArchive(newApp()));
        TempDir::write(dir.file("hostile.zip"), zipArchive(hostile));
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
        std::atomic<bool> done{false};
        std::thread swapper([&] {
            alignas(inotify_event) char events[4096];
            while (!done) {
                pollfd p{watch, POLLIN, 0};
                if (::poll(&p, 1, 10) <= 0) continue;
                const ssize_t n = ::read(watch, events, sizeof events);
                for (ssize_t at = 0; at < n;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                    if (e->len && std::string(e->name).rfind(".havenway-update.", 0) == 0) {
                        ::rename(dir.file("hostile.zip").c_str(), archive.c_str());
                        return;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
        });
        const auto r = install(archive, bundle);
        done = true;
        swapper.join();
        ::close(watch);
        const std::string version = TempDir::read(bundle + "/VERSION");
        EXPECT_NE(version, "hostile") << r.err;
        EXPECT_FALSE(std::filesystem::exists(bundle + "/zeros1"));
        if (version == "new") {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(started(), "new");
        } else {
            EXPECT_EQ(version, "old");
            EXPECT_EQ(started(), "old --update-refused");
        }
        EXPECT_TRUE(leftovers(folder).empty());
    }
}

// The refused application's alert says that the log says why: the reason
// is kept in the application's log folder, as the quitting application's
// session names it.
TEST_F(InstallScriptTest, TheReasonIsKeptInTheApplicationsLogFolder) {
    const std::string bundle = dir.file("apps/Havenway");
    makeApp(bundle, "old");
    TempDir::write(dir.file("apps/auto-update.zip"), zipArchive(newApp("Other/")));
    EXPECT_NE(install(dir.file("apps/auto-update.zip"), bundle).exitCode, 0);
    EXPECT_EQ(started(), "old --update-refused");
    EXPECT_NE(scriptLog().find("install-update: the archive is not a single Havenway folder"), std::string::npos)
        << scriptLog();
    struct stat st{};
    ASSERT_EQ(::stat(dir.file("state/havenway/logs/install-update.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Started by the application, the script has no XDG_STATE_HOME of its own.
    std::filesystem::remove(dir.file("started"));
    TempDir::write(dir.file("apps/auto-update.zip"), "not an archive");
    quitInto(dir.file("apps/auto-update.zip"), bundle, {{"XDG_STATE_HOME", dir.file("session-state")}});
    EXPECT_EQ(started(), "old --update-refused");
    const std::string kept = TempDir::read(dir.file("session-state/havenway/logs/install-update.log"));
    EXPECT_NE(kept.find("install-update: the archive cannot be read"), std::string::npos) << kept;
}

// Whoever else can change the folder the application is in could put a link
// where it stood between the two renames, and have the new tree land in his
// own folder; whoever else owns the log folder or file would choose what we
// append to.
TEST_F(InstallScriptTest, NothingGoesWhereAnotherUserCouldRedirectIt) {
    const bool root = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    struct Row {
        const char* name;
        const char* changed;  // below the row's folder
        mode_t mode;
        bool otherOwner;
        const char* said = "another user can change the folder the application is in";
    };
    int n = 0;
    for (auto row : {Row{"a shared folder, sticky", "up/apps", 01777, false},
                     Row{"a folder above, writable by all", "up", 0777, false},
                     Row{"another user's folder", "up/apps", 0755, true},
                     Row{"another user's application folder, writable by all", "up/apps/Havenway", 0777, true,
                         "the application folder belongs to another user"}}) {
        if (row.otherOwner && !root) continue;
        SCOPED_TRACE(row.name);
        const std::string top = dir.file("install" + std::to_string(++n));
        const std::string bundle = top + "/up/apps/Havenway";
        makeApp(bundle, "old");
        TempDir::write(top + "/up/apps/auto-update.zip", zipArchive(newApp()));
        const std::string changed = top + "/" + row.changed;
        ASSERT_EQ(::chmod(changed.c_str(), row.mode), 0);
        if (row.otherOwner) {
            ASSERT_EQ(::chown(changed.c_str(), kNobody, kNobody), 0);
        }
        std::filesystem::remove(dir.file("started"));
        EXPECT_EQ(install(top + "/up/apps/auto-update.zip", bundle).exitCode, 1);
        EXPECT_EQ(started(), "old --update-refused");
        EXPECT_EQ(TempDir::read(bundle + "/VERSION"), "old");
        EXPECT_TRUE(leftovers(top + "/up/apps").empty());
        EXPECT_NE(scriptLog().find(row.said), std::string::npos) << scriptLog();
    }

    const std::string bundle = dir.file("apps/Havenway");
    makeApp(bundle, "old");
    TempDir::write(dir.file("apps/auto-update.zip"), "not an archive");
    struct LogRow {
        const char* name;
        mode_t folderMode;
        bool otherFolder;
        bool otherFile;
        bool otherLink = false;
    };
    for (auto row : {LogRow{"a log folder all may write", 0777, false, false},
                     LogRow{"another user's log folder", 0700, true, false},
                     LogRow{"another user's log file", 0700, false, true},
                     LogRow{"our log folder through another user's link in a sticky folder", 0700, false, false,
                            true}}) {
        if ((row.otherFolder || row.otherFile || row.otherLink) && !root) continue;
        SCOPED_TRACE(row.name);
        const std::string logs = dir.file(std::string("logs") + std::to_string(++n));
        std::filesystem::create_directories(logs);
        ASSERT_EQ(::chmod(logs.c_str(), row.folderMode), 0);
        if (row.otherFolder) {
            ASSERT_EQ(::chown(logs.c_str(), kNobody, kNobody), 0);
        }
        const std::string log = logs + "/install-update.log";
        if (row.otherFile) {
            TempDir::write(log, "his\n");
            ASSERT_EQ(::chown(log.c_str(), kNobody, kNobody), 0);
        }
        auto env = privateHome();
        env["HAVENWAY_LOGS_DIR"] = logs;
        if (row.otherLink) {
            // He may point it at a folder of his own between the check and the write.
            const std::string shared = dir.file("shared" + std::to_string(n));
            std::filesystem::create_directories(shared);
            ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
            std::filesystem::create_symlink(dir.path(), shared + "/link");
            ASSERT_EQ(::lchown((shared + "/link").c_str(), kNobody, kNobody), 0);
            env["HAVENWAY_LOGS_DIR"] = shared + "/link/logs" + std::to_string(n) + "/new";
        }
        std::filesystem::remove(dir.file("started"));
        EXPECT_EQ(install(dir.file("apps/auto-update.zip"), bundle, env).exitCode, 1);
        EXPECT_EQ(started(), "old --update-refused");
        EXPECT_EQ(TempDir::read(log), row.otherFile ? "his\n" : "");
        EXPECT_EQ(std::filesystem::exists(log), row.otherFile);
        EXPECT_FALSE(std::filesystem::exists(logs + "/new")) << "a folder made through his link";
    }
}

}  // namespace
}  // namespace hw::test
