#pragma once
// The install script run for real on a sample application folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "app/zip_archive.h"
#include "platform/posix_process_runner.h"
#include "support/temp_dir.h"

namespace hw::test {

class InstallScriptTest : public ::testing::Test {
protected:
    // An application folder whose bin/havenway notes its name, its arguments
    // and its environment when started.
    void makeApp(const std::string& bundle, const std::string& version) {
        namespace fs = std::filesystem;
        fs::create_directories(bundle + "/bin");
        TempDir::write(bundle + "/VERSION", version);
        TempDir::write(bundle + "/bin/havenway", stub());
        TempDir::write(bundle + "/bin/havenway.sh", startedBy(version));
        ::chmod((bundle + "/bin/havenway").c_str(), 0755);
        ::chmod((bundle + "/bin/havenway.sh").c_str(), 0755);
    }
    std::string startedBy(const std::string& version) const {
        return "#!/bin/sh\nenv > '" + dir.file("started.env") + "'\necho " + version + " \"$@\" > '" +
               dir.file("started") + "'\n";
    }
    // An executable of this machine that runs the script beside it.
    static std::string stub() { return TempDir::read(HW_STUB_APPLICATION); }
    // The new version as the archive carries it.
    std::vector<ZipEntry> newApp(const std::string& top = "Havenway/") const {
        return {{top, ""},
                {top + "bin/", ""},
                {top + "bin/havenway", stub(), 0755},
                {top + "bin/havenway.sh", startedBy("new"), 0755},
                {top + "lib/", ""},
                {top + "lib/havenway/", ""},
                {top + "lib/havenway/havenway-network.so", stub()},
                {top + "share/", ""},
                {top + "share/havenway/", ""},
                {top + "share/havenway/install-update.sh", "#!/bin/sh\n", 0755},
                {top + "VERSION", "new"}};
    }
    static std::string script() { return std::string(HW_SOURCE_DIR) + "/resources/install-update.sh"; }
    ProcessResult install(const std::string& archive, const std::string& bundle,
                          std::optional<std::map<std::string, std::string>> environment = std::nullopt) {
        ProcessRequest r;
        r.argv = {"/bin/sh", script(), archive, bundle};
        r.environment = environment ? *environment : privateHome();
        r.timeout = std::chrono::seconds(60);
        return PosixProcessRunner().run(r);
    }
    // The script keeps its log under the user's state folder: never the real one.
    std::map<std::string, std::string> privateHome() const {
        return {{"HOME", dir.file("home")}, {"XDG_STATE_HOME", dir.file("state")}, {"HAVENWAY_LOGS_DIR", ""}};
    }
    std::string scriptLog() const { return TempDir::read(dir.file("state/havenway/logs/install-update.log")); }
    // As the application installs an update: its bin/havenway starts the
    // script and quits, with these variables in its own environment.
    void quitInto(const std::string& archive, const std::string& bundle,
                  const std::map<std::string, std::string>& session) {
        ProcessRequest r;
        r.argv = {bundle + "/bin/havenway", "--install", script(), archive};
        r.environment = session;
        r.timeout = std::chrono::seconds(60);
        const auto result = PosixProcessRunner().run(r);
        EXPECT_EQ(result.exitCode, 0) << "the script did not wait for the application: " << result.out;
    }
    // The version started again and its arguments, once the script's detached
    // start has written its whole line (the file exists, empty, before the
    // echo lands).
    std::string started() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string s = TempDir::read(dir.file("started"));
        while ((s.empty() || s.back() != '\n') && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            s = TempDir::read(dir.file("started"));
        }
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }
    // Whatever the script left beside the application.
    std::vector<std::string> leftovers(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            const auto name = e.path().filename().string();
            if (name.rfind(".havenway-update.", 0) == 0) names.push_back(name);
        }
        return names;
    }

    TempDir dir;
};

}  // namespace hw::test
