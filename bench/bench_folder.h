#pragma once
// A scratch folder for benches that write files: in HW_BENCH_DIR when set,
// else in the working directory, so fsync meets a real disk. tmpfs is
// named on stderr, because its figures flatter every write.
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace hw::bench {

inline constexpr long kTmpfsMagic = 0x01021994;

class BenchFolder {
public:
    explicit BenchFolder(const char* prefix) {
        const char* base = std::getenv("HW_BENCH_DIR");
        std::string tmpl = std::string(base && *base ? base : ".") + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(tmpl.data())) path = tmpl;
        struct statfs fs{};
        if (!path.empty() && ::statfs(path.c_str(), &fs) == 0 && fs.f_type == kTmpfsMagic)
            std::fprintf(stderr, "warning: %s is on tmpfs; set HW_BENCH_DIR to a disk-backed folder\n", path.c_str());
    }
    ~BenchFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    std::string path;  // empty when it could not be made
};

}  // namespace hw::bench
