// What each edition's executable loads: the standard one starts without the web
// engine and what it drags in; the enterprise one carries the sign-in page.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/posix_process_runner.h"

namespace hw {
namespace {

constexpr const char* kWebLibraries[] = {"libQt6WebEngineCore", "libQt6WebEngineWidgets", "libQt6Quick",
                                         "libQt6Qml", "libQt6Positioning"};

std::string loadedLibraries(const std::string& binary) {
    PosixProcessRunner runner;
    ProcessResult r = runner.run(ProcessRequest{{"ldd", binary}, std::nullopt, std::chrono::seconds(30), {}});
    EXPECT_TRUE(r.ok()) << binary << ": " << r.error << r.err;
    return r.out;
}

TEST(EditionLinkage, EachEditionLoadsTheWebEngineOnlyWhenItHasThePage) {
    struct Row {
        const char* binary;
        bool hasPage;
    };
    const Row rows[] = {{"/src/havenway", false}, {"/src/enterprise/havenway", true}};
    for (const Row& row : rows) {
        const std::string binary = std::string(HW_BINARY_DIR) + row.binary;
        if (row.hasPage && !std::filesystem::exists(binary)) continue;  // a standard-only build
        ASSERT_TRUE(std::filesystem::exists(binary)) << binary;
        const std::string libraries = loadedLibraries(binary);
        ASSERT_NE(libraries.find("libQt6Widgets"), std::string::npos) << libraries;
        if (row.hasPage) {
            EXPECT_NE(libraries.find("libQt6WebEngineCore"), std::string::npos) << libraries;
            continue;
        }
        for (const char* web : kWebLibraries) {
            EXPECT_EQ(libraries.find(web), std::string::npos) << binary << " loads " << web;
        }
    }
}

// Opened where first used, after the first window: loaded with the program,
// they would hold up every start.
TEST(EditionLinkage, NeitherEditionLoadsAtStartWhatItOpensOnFirstUse) {
    for (const char* name : {"/src/havenway", "/src/enterprise/havenway"}) {
        const std::string binary = std::string(HW_BINARY_DIR) + name;
        if (!std::filesystem::exists(binary)) continue;
        const std::string libraries = loadedLibraries(binary);
        for (const char* late : {"libsqlite3"}) {
            EXPECT_EQ(libraries.find(late), std::string::npos) << binary << " loads " << late;
        }
        // The enterprise page links these for its own use.
        if (std::string(name) != "/src/havenway") continue;
        for (const char* late : {"libQt6Network", "libkrb5"}) {
            EXPECT_EQ(libraries.find(late), std::string::npos) << binary << " loads " << late;
        }
    }
}

// libsecret, with GIO and GObject under it, is opened only once a keyring has
// answered (app.EditionLinkage's start cases show it unmapped otherwise):
// neither edition links it.
TEST(EditionLinkage, NeitherEditionLinksGioOrLibsecret) {
    for (const char* name : {"/src/havenway", "/src/enterprise/havenway"}) {
        const std::string binary = std::string(HW_BINARY_DIR) + name;
        if (!std::filesystem::exists(binary)) continue;
        const std::string libraries = loadedLibraries(binary);
        for (const char* library : {"libgio-2.0.so", "libgobject-2.0.so", "libsecret-1.so"}) {
            EXPECT_EQ(libraries.find(library), std::string::npos) << binary << " links " << library;
        }
    }
}

}  // namespace
}  // namespace hw
