#include "app/default_mail_client.h"

#include <gtest/gtest.h>

#include "support/fake_process_runner.h"

namespace hw {
namespace {

TEST(DefaultMailClient, TakesOnlyAPlainDesktopNameFoundInTheApplicationFolders) {
    struct Row {
        const char* answer;
        int exitCode;
        std::optional<std::string> found;
    };
    const Row rows[] = {
        {"mail.desktop\n", 0, "/home/u/.local/share/applications/mail.desktop"},
        {"other.desktop\n", 0, "/usr/share/applications/other.desktop"},
        {"missing.desktop\n", 0, std::nullopt},
        {"mail.desktop\n", 1, std::nullopt},
        {"\n", 0, std::nullopt},
        {"../../bin/sh.desktop\n", 0, std::nullopt},
        {"--help.desktop\n", 0, std::nullopt},
        {"mail\n", 0, std::nullopt},
    };
    const std::vector<std::string> dirs = {"/home/u/.local/share/applications", "/usr/share/applications"};
    const auto exists = [](const std::string& path) {
        return path == "/home/u/.local/share/applications/mail.desktop" ||
               path == "/usr/share/applications/other.desktop" || path == "/usr/share/applications/mail.desktop";
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        test::FakeProcessRunner runner;
        runner.scripted.push_back(test::FakeProcessRunner::exited(row.exitCode, row.answer));
        EXPECT_EQ(defaultMailClientDesktopFile(runner, dirs, exists), row.found);
        ASSERT_EQ(runner.argvs().size(), 1u);
        EXPECT_EQ(runner.argvs()[0],
                  (std::vector<std::string>{"xdg-mime", "query", "default", "x-scheme-handler/mailto"}));
    }
}

}  // namespace
}  // namespace hw
