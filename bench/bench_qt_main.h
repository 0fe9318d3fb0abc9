#pragma once
// main() for the benches on a QApplication: the application is made before the
// benchmarks run and goes before Qt's own globals do (a static one crashed at
// exit), and whatever the code under measure writes lands in one private
// folder, removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>

namespace hw::bench {

// The run's private folder; HOME and the XDG folders point into it.
inline std::string& runFolder() {
    static std::string path;
    return path;
}

template <typename Application = QApplication>
int runQtBenchmarks(int argc, char** argv, void (*beforeApplication)() = nullptr) {
    std::string folder = (std::filesystem::temp_directory_path() / "hw-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    runFolder() = folder;
    for (const auto& [name, sub] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
                                    {"XDG_STATE_HOME", "state"}, {"XDG_CACHE_HOME", "cache"},
                                    {"XDG_RUNTIME_DIR", "run"}, {"HAVENWAY_RUNTIME_DIR", "run"}}) {
        const std::string path = folder + "/" + sub;
        std::filesystem::create_directories(path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        ::setenv(name, path.c_str(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int code = 0;
    {
        if (beforeApplication) beforeApplication();
        int applicationArgc = 1;
        Application application(applicationArgc, argv);
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) code = 1;
        else benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return code;
}

}  // namespace hw::bench
