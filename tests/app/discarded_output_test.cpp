// Output that would go nowhere goes to the log folder instead; output that
// goes somewhere stays where it goes.
#include "app/discarded_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "support/temp_dir.h"

namespace hw {
namespace {

TEST(DiscardedOutput, GoesToThePrivateLogOnlyWhereItWouldBeLost) {
    struct Row {
        const char* name;
        bool discarded;
        bool oversized;
    };
    for (const Row row : {Row{"discarded", true, false}, Row{"discarded, the old log too big", true, true},
                          Row{"to a file", false, false}}) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const std::string logs = dir.file("state/logs");
        const std::string log = logs + "/havenway.log";
        if (row.oversized) {
            ASSERT_EQ(::mkdir(dir.file("state").c_str(), 0700), 0);
            ASSERT_EQ(::mkdir(logs.c_str(), 0700), 0);
            test::TempDir::write(log, std::string(5 * 1024 * 1024, 'x'));
        }
        const std::string elsewhere = dir.file("elsewhere");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int target = row.discarded ? ::open("/dev/null", O_WRONLY)
                                             : ::open(elsewhere.c_str(), O_WRONLY | O_CREAT, 0600);
            ::dup2(target, STDOUT_FILENO);
            ::dup2(target, STDERR_FILENO);
            const bool kept = !keepDiscardedOutput(logs).empty();
            const char said[] = "out\n", warned[] = "err\n";
            const bool written = ::write(STDOUT_FILENO, said, 4) == 4 && ::write(STDERR_FILENO, warned, 4) == 4;
            ::_exit(written && kept == row.discarded ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        struct stat st{};
        if (!row.discarded) {
            EXPECT_NE(::stat(log.c_str(), &st), 0) << "no log where the output has a place";
            EXPECT_EQ(test::TempDir::read(elsewhere), "out\nerr\n");
            continue;
        }
        EXPECT_EQ(test::TempDir::read(log), "out\nerr\n");
        ASSERT_EQ(::stat(log.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(logs.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

}  // namespace
}  // namespace hw
