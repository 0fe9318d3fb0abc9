// Cold start of the real application against a minimal Qt Widgets program,
// both as a user starts them: exec to the first window mapped on a private
// Xvfb, alternating, 15 runs each; the proportional memory (PSS) with that
// window shown; and a second start that forwards to the running copy against
// the minimal program's exec to exit. Prints each median and the ratios
// (targets: 1.5x). HW_COLD_START_BINARY names another build of the application
// (the enterprise edition); every environment variable passes through, so
// QT_XCB_GL_INTEGRATION=none measures without GL. Each measured start finds the
// files an unmeasured first start wrote, as a user's later starts do;
// HW_COLD_START_FIRST_RUN=1 gives every start a fresh home instead.
// With the testbed up (scripts/testbed up), also signed in and idle: the
// application signs in through its login window with the demo account (typed
// by xdotool), then idles 30 s beside the minimal program as a main window
// with a label, both running at once; PSS, RSS and private dirty memory of each
// (HW_COLD_START_IDLE_RUNS runs, 3 by default). HW_COLD_START_KEYRING=1 puts
// gnome-keyring, unlocked, on the private bus: the account then lives in the
// keyring through libsecret rather than in the 0600 file; the idle figures
// say which one the application had mapped. Also with the testbed: a start
// with the account remembered from such a sign-in, exec to the main window
// painted (its pixels read back until they settle: a window mapped may still
// be blank), against the minimal program's main window, alternating. And that
// start with the backend holding 60 locations against 6,000 (HW_LOCATIONS),
// in alternating blocks (target: within 2x); the added locations are
// removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_painted.h"
#include "bench_sides.h"
#include "support/announcing_daemon.h"
#include "testbed/testbed_env.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRuns = 15;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string application() {
    const char* other = std::getenv("HW_COLD_START_BINARY");
    return other && *other ? other : HAVENWAY_BINARY;
}

// One private display and bus, and the user folders the starts share (or a
// fresh set for each, for first starts).
class Desk {
public:
    bool start(std::string* why) {
        std::string folder = (std::filesystem::temp_directory_path() / "hw-cold-start-XXXXXX").string();
        if (!::mkdtemp(folder.data())) return (*why = "no temporary folder", false);
        root_ = folder;
        if (!xvfb_.startInstalled("xvfb", {"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1600x1000x24", "-nolisten",
                                            "tcp", "-noreset"},
                                  why))
            return false;
        display_ = ":" + xvfb_.announcement();
        if (!bus_.startInstalled("dbus-daemon", {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                                 "--print-address={fd}"},
                                 why))
            return false;
        if (const char* k = std::getenv("HW_COLD_START_KEYRING"); k && std::string(k) == "1" && !startKeyring(why))
            return false;
        x_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(x_)) return (*why = "no connection to " + display_, false);
        // No window manager: the programs' top-level windows are the root's children.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x_, screen()->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x_);
        return true;
    }
    ~Desk() {
        if (keyring_ > 0) stop(keyring_);
        if (x_) xcb_disconnect(x_);
        bus_.stop();
        xvfb_.stop();
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }

    // The home of one start: the shared one, or a fresh one (from a copy of
    // `from`, when given).
    std::vector<std::string> environment(bool freshHome = false, const std::string& from = {}) {
        const char* first = std::getenv("HW_COLD_START_FIRST_RUN");
        const bool fresh = freshHome || (first && std::string(first) == "1");
        const std::string home = root_ + "/home" + (fresh ? std::to_string(++runs_) : std::string());
        if (!from.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(home, ec);
            std::filesystem::copy(from, home, std::filesystem::copy_options::recursive, ec);
        }
        std::map<std::string, std::string> vars;
        for (char** e = environ; *e; ++e) {
            const std::string kv = *e;
            const auto eq = kv.find('=');
            if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        for (const auto& [name, sub] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"},
                                        {"XDG_DATA_HOME", "/data"}, {"XDG_STATE_HOME", "/state"},
                                        {"XDG_CACHE_HOME", "/cache"}, {"XDG_RUNTIME_DIR", "/run"}}) {
            std::filesystem::create_directories(home + sub);
            std::filesystem::permissions(home + sub, std::filesystem::perms::owner_all);
            vars[name] = home + sub;
        }
        vars["HAVENWAY_RUNTIME_DIR"] = root_ + "/instance";
        std::filesystem::create_directories(root_ + "/instance");
        std::filesystem::permissions(root_ + "/instance", std::filesystem::perms::owner_all);
        vars["HAVENWAY_HELPER_SOCKET"] = root_ + "/no-helper.sock";
        // Nothing answers: the first window does not wait for the backend.
        vars["HAVENWAY_BACKEND_HOST"] = "http://127.0.0.1:9";
        vars["HAVENWAY_WEB_HOST"] = "http://127.0.0.1:9";
        vars["DISPLAY"] = display_;
        vars["DBUS_SESSION_BUS_ADDRESS"] = bus_.announcement();
        vars["QT_QPA_PLATFORM"] = "xcb";
        for (const auto& [k, v] : overrides) vars[k] = v;
        std::vector<std::string> out;
        for (const auto& [k, v] : vars) out.push_back(k + "=" + v);
        return out;
    }

    // Spawns argv; the time from just before exec to its first top-level window mapped.
    pid_t startAndWaitForWindow(const std::vector<std::string>& argv, double* elapsed,
                                const std::vector<std::string>& env = {}, xcb_window_t* window = nullptr) {
        drain();
        const auto start = Clock::now();
        const pid_t pid = spawn(argv, env.empty() ? environment() : env);
        if (pid <= 0) return -1;
        const xcb_window_t mapped = waitForMap(pid, 0, 30s);
        if (!mapped) {
            stop(pid);
            return -1;
        }
        *elapsed = ms(Clock::now() - start);
        if (window) *window = mapped;
        return pid;
    }

    // The next top-level window other than `other` mapped, or 0 when pid ends or time runs out.
    xcb_window_t waitForMap(pid_t pid, xcb_window_t other, Clock::duration within) {
        const auto start = Clock::now();
        while (Clock::now() - start < within) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> e(xcb_poll_for_event(x_), std::free);
            if (!e) {
                int status = 0;
                if (::waitpid(pid, &status, WNOHANG) == pid) return 0;
                std::this_thread::sleep_for(200us);
                continue;
            }
            if ((e->response_type & 0x7f) != XCB_MAP_NOTIFY) continue;
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e.get());
            if (map->override_redirect || map->window == other) continue;  // tooltips and popups
            return map->window;
        }
        return 0;
    }

    // The window painted: its pixels settled for 700 ms (a flag or the map may
    // arrive a while after the list), in ms since start; -1 when unreadable.
    double paintedSince(xcb_window_t window, Clock::time_point start) {
        return hw::bench::paintedAfter(x_, window, start, [] { return true; }, {}, 700, 30000);
    }

    // A window's width and height, or zeros.
    std::pair<int, int> size(xcb_window_t window) {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
            xcb_get_geometry_reply(x_, xcb_get_geometry(x_, window), nullptr), std::free);
        return g ? std::pair<int, int>{g->width, g->height} : std::pair<int, int>{0, 0};
    }

    // Runs xdotool on this display; whether it succeeded.
    bool xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return runToExit(args, {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"}) >= 0;
    }

    std::map<std::string, std::string> overrides;  // environment the starts get beyond the desk's own

    // Spawns argv and waits for its end; the time from just before exec, or -1.
    double runToExit(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        const auto start = Clock::now();
        const pid_t pid = spawn(argv, env);
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
        return ms(Clock::now() - start);
    }

    static void stop(pid_t pid) {
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

private:
    // gnome-keyring on the desk's bus, its login keyring made and unlocked
    // with a password on its input, as a desktop session's login does.
    bool startKeyring(std::string* why) {
        const std::string home = root_ + "/keyring";
        for (const char* sub : {"", "/data", "/run"}) {
            std::filesystem::create_directories(home + sub);
            std::filesystem::permissions(home + sub, std::filesystem::perms::owner_all);
        }
        const std::vector<std::string> env{"HOME=" + home, "XDG_DATA_HOME=" + home + "/data",
                                           "XDG_RUNTIME_DIR=" + home + "/run", "PATH=/usr/bin:/bin",
                                           "DBUS_SESSION_BUS_ADDRESS=" + bus_.announcement()};
        int input[2];
        // Close-on-exec: the daemon reads its password to the end, which its own copy of the pipe would never give.
        if (::pipe2(input, O_CLOEXEC) != 0) return (*why = "no pipe", false);
        keyring_ = spawn({"gnome-keyring-daemon", "--foreground", "--components=secrets", "--unlock"}, env, input[0]);
        ::close(input[0]);
        const std::string password = "havenway-bench";
        const bool written = ::write(input[1], password.data(), password.size()) == ssize_t(password.size());
        ::close(input[1]);
        if (keyring_ <= 0 || !written) return (*why = "gnome-keyring-daemon did not start", false);
        for (int i = 0; i < 200; ++i) {
            if (runToExit({"dbus-send", "--bus=" + bus_.announcement(), "--print-reply", "--dest=org.freedesktop.secrets",
                           "/org/freedesktop/secrets/aliases/default", "org.freedesktop.DBus.Properties.Get",
                           "string:org.freedesktop.Secret.Collection", "string:Label"},
                          {"PATH=/usr/bin:/bin"}) >= 0)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return (*why = "gnome-keyring made no default collection", false);
    }
    static pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int input = -1) {
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_t pid = -1;
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        if (input >= 0) posix_spawn_file_actions_adddup2(&quiet, input, 0);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        const int failed = ::posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&quiet);
        return failed ? -1 : pid;
    }
    xcb_screen_t* screen() { return xcb_setup_roots_iterator(xcb_get_setup(x_)).data; }
    void drain() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(x_)) std::free(e);
    }

public:
    std::string sharedHome() const { return root_ + "/home"; }

private:
    hw::test::AnnouncingDaemon xvfb_, bus_;
    std::string display_, root_;
    xcb_connection_t* x_ = nullptr;
    int runs_ = 0;
    pid_t keyring_ = -1;
};

// Whether the process has the library mapped.
bool maps(pid_t pid, const std::string& library) {
    std::ifstream m("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(m, line))
        if (line.find(library) != std::string::npos) return true;
    return false;
}

// One figure of the process's memory in MiB: "Pss:" (its shared libraries
// split among their users) or "Rss:".
double memoryMiB(pid_t pid, const std::string& field = "Pss:") {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long kib = 0;
    while (rollup >> key) {
        if (key == field) {
            rollup >> kib;
            return kib / 1024.0;
        }
        rollup.ignore(4096, '\n');
    }
    return 0;
}

double pssMiB(pid_t pid) { return memoryMiB(pid); }

void report(benchmark::State& state, const char* what, const std::vector<double>& app,
            const std::vector<double>& minimal, const char* unit, double target = 1.5) {
    const double a = median(app), m = median(minimal);
    const double ratio = m > 0 ? a / m : 0;
    if (target > 0)
        std::printf("%-32s havenway %8.1f %s   minimal %8.1f %s   ratio %.2fx (target <= %.2fx) %s\n", what, a, unit,
                    m, unit, ratio, target, ratio <= target ? "met" : "MISSED");
    else
        std::printf("%-32s havenway %8.1f %s   minimal %8.1f %s   ratio %.2fx\n", what, a, unit, m, unit, ratio);
    state.counters[std::string(what) + " ratio"] = ratio;
}

void BM_ColdStart(benchmark::State& state) {
    Desk desk;
    std::string why;
    if (!desk.start(&why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string app = application();
    std::printf("application: %s\n", app.c_str());
    // The first start writes the settings, the secrets and the login item.
    for (const std::string& program : {app, std::string(MINIMAL_BINARY)}) {
        double elapsed = 0;
        if (const pid_t pid = desk.startAndWaitForWindow({program}, &elapsed); pid > 0) Desk::stop(pid);
    }
    std::vector<double> appMs, minimalMs, appPss, minimalPss, appPssAtMap, minimalPssAtMap;
    for (auto _ : state) {
        // Alternating, so that a change in the machine's load meets both alike.
        for (int i = 0; i < kRuns; ++i) {
            for (const bool real : {true, false}) {
                double elapsed = 0;
                const pid_t pid = desk.startAndWaitForWindow(real ? std::vector<std::string>{app}
                                                                  : std::vector<std::string>{MINIMAL_BINARY},
                                                             &elapsed);
                if (pid <= 0) {
                    state.SkipWithError(real ? "the application showed no window" : "the minimal program failed");
                    return;
                }
                // Read as the window maps, and again once it is drawn and the
                // launch's own work after it (the backend, the secrets) has begun.
                (real ? appPssAtMap : minimalPssAtMap).push_back(pssMiB(pid));
                std::this_thread::sleep_for(300ms);
                (real ? appMs : minimalMs).push_back(elapsed);
                (real ? appPss : minimalPss).push_back(pssMiB(pid));
                Desk::stop(pid);
            }
        }
        state.SetIterationTime(median(appMs) / 1000.0);
    }
    report(state, "exec to first window mapped", appMs, minimalMs, "ms");
    report(state, "PSS as the first window maps", appPssAtMap, minimalPssAtMap, "MiB");
    report(state, "PSS 300 ms after", appPss, minimalPss, "MiB");
}
BENCHMARK(BM_ColdStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

int idleRuns() {
    const char* v = std::getenv("HW_COLD_START_IDLE_RUNS");
    return v && std::atoi(v) > 0 ? std::atoi(v) : 3;
}

// Signed in through the login window, as a user does, from a home the
// first start left (or in `env`'s); the main window's map ends it. Answers
// the pid, or -1.
pid_t signIn(Desk& desk, const std::string& app, const hw::test::TestbedEnv& testbed, std::string* why,
             std::vector<std::string> env = {}, xcb_window_t* mainWindow = nullptr) {
    double shown = 0;
    xcb_window_t login = 0;
    if (env.empty()) env = desk.environment(true, desk.sharedHome());
    const pid_t pid = desk.startAndWaitForWindow({app}, &shown, env, &login);
    if (pid <= 0) return (*why = "the application showed no window", -1);
    // A home that has not signed in yet opens on the welcome pages (the
    // shorter window): their LOG IN, bottom left, opens the login window.
    if (const auto [width, height] = desk.size(login); height > 0 && height < 560) {
        const xcb_window_t welcome = login;
        if (!desk.xdotool({"mousemove", "--window", std::to_string(welcome), std::to_string(width * 28 / 100),
                           std::to_string(height * 90 / 100), "click", "1"}) ||
            !(login = desk.waitForMap(pid, welcome, 30s))) {
            Desk::stop(pid);
            return (*why = "the welcome pages' LOG IN showed no login window", -1);
        }
    }
    // The login field has the focus; Return in the password field signs in.
    const bool typed = desk.xdotool({"windowfocus", "--sync", std::to_string(login)}) &&
                       desk.xdotool({"type", "--delay", "2", testbed.get("HAVENWAY_TESTBED_DEMO_USER")}) &&
                       desk.xdotool({"key", "Tab"}) &&
                       desk.xdotool({"type", "--delay", "2", testbed.get("HAVENWAY_TESTBED_DEMO_PASSWORD")}) &&
                       desk.xdotool({"key", "Return"});
    const xcb_window_t main = typed ? desk.waitForMap(pid, login, 60s) : 0;
    if (!main) {
        Desk::stop(pid);
        return (*why = typed ? "signing in showed no main window" : "xdotool failed (is it installed?)", -1);
    }
    if (mainWindow) *mainWindow = main;
    return pid;
}

// A desk whose starts use the testbed, its shared home written by one
// unmeasured start of each program; false (the bench skipped) otherwise.
bool deskOnTestbed(benchmark::State& state, Desk& desk, const std::optional<hw::test::TestbedEnv>& testbed,
                   const std::vector<std::vector<std::string>>& programs) {
    std::string why;
    if (!testbed) why = "the testbed is not up (scripts/testbed up): no " + hw::test::TestbedEnv::path();
    if (!why.empty() || !desk.start(&why)) {
        state.SkipWithError(why.c_str());
        return false;
    }
    desk.overrides = {{"HAVENWAY_TEST_CA", testbed->get("HAVENWAY_TEST_CA")},
                      {"HAVENWAY_BACKEND_HOST", testbed->get("HAVENWAY_BACKEND_HOST")},
                      {"HAVENWAY_WEB_HOST", testbed->get("HAVENWAY_WEB_HOST")},
                      {"HAVENWAY_IDENTITY_HOST", testbed->get("HAVENWAY_WEB_HOST")}};
    for (const auto& program : programs) {
        double elapsed = 0;
        if (const pid_t pid = desk.startAndWaitForWindow(program, &elapsed); pid > 0) Desk::stop(pid);
    }
    return true;
}

// The start most users make: the account remembered, the application signs
// in by itself; exec to its main window painted.
void BM_SignedInColdStart(benchmark::State& state) {
    const auto testbed = hw::test::TestbedEnv::load();
    Desk desk;
    const std::string app = application();
    const std::vector<std::string> minimal{MINIMAL_BINARY, "--main-window"};
    if (!deskOnTestbed(state, desk, testbed, {{app}, minimal})) return;
    std::string why;
    const auto home = desk.environment(true, desk.sharedHome());
    xcb_window_t signedIn = 0;
    const pid_t first = signIn(desk, app, *testbed, &why, home, &signedIn);
    if (first <= 0) {
        state.SkipWithError(why.c_str());
        return;
    }
    const auto mainSize = desk.size(signedIn);
    Desk::stop(first);
    std::vector<double> appMs, minimalMs;
    for (auto _ : state) {
        for (int i = 0; i < kRuns; ++i) {
            for (const bool real : {i % 2 == 0, i % 2 != 0}) {
                const auto start = Clock::now();
                double elapsed = 0;
                xcb_window_t window = 0;
                const pid_t pid = desk.startAndWaitForWindow(real ? std::vector<std::string>{app} : minimal, &elapsed,
                                                             real ? home : std::vector<std::string>{}, &window);
                // A window before the main one (a login window) is passed over.
                while (real && pid > 0 && window && desk.size(window) != mainSize) window = desk.waitForMap(pid, window, 30s);
                const double painted = pid > 0 && window ? desk.paintedSince(window, start) : -1;
                if (painted < 0) {
                    if (pid > 0) Desk::stop(pid);
                    state.SkipWithError(real ? "the signed-in start showed no main window" : "the minimal program failed");
                    return;
                }
                (real ? appMs : minimalMs).push_back(painted);
                Desk::stop(pid);
            }
        }
        state.SetIterationTime(median(appMs) / 1000.0);
    }
    std::printf("signed-in start, ms: havenway min %.1f max %.1f; minimal min %.1f max %.1f\n",
                *std::min_element(appMs.begin(), appMs.end()), *std::max_element(appMs.begin(), appMs.end()),
                *std::min_element(minimalMs.begin(), minimalMs.end()), *std::max_element(minimalMs.begin(), minimalMs.end()));
    report(state, "exec to main window painted, signed in", appMs, minimalMs, "ms", 0);
}
BENCHMARK(BM_SignedInColdStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The testbed's locations made `total` (6 seeded, the rest added by
// bench/added_locations.js through the master key).
bool locationsOnTestbed(const hw::test::TestbedEnv& testbed, int total) {
    std::vector<std::string> env{"PATH=/usr/local/bin:/usr/bin:/bin", "NODE_EXTRA_CA_CERTS=" + testbed.get("HAVENWAY_TEST_CA")};
    for (const char* key : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_TESTBED_APP_ID", "HAVENWAY_TESTBED_MASTER_KEY"})
        env.push_back(std::string(key) + "=" + testbed.get(key));
    std::vector<std::string> args{"node", std::string(HW_SOURCE_DIR) + "/bench/added_locations.js",
                                  std::to_string(std::max(total - 6, 0))};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    return ::posix_spawnp(&pid, "node", nullptr, nullptr, argv.data(), envp.data()) == 0 &&
           ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A signed-in start loads the list from the backend: the sides are the
// backend's sizes, in blocks of starts (a size is minutes to set), the
// order of the two blocks flipping every round.
void BM_SignedInStartManyLocations(benchmark::State& state) {
    const auto testbed = hw::test::TestbedEnv::load();
    Desk desk;
    const std::string app = application();
    if (!deskOnTestbed(state, desk, testbed, {{app}})) return;
    const char* n = std::getenv("HW_LOCATIONS");
    const int sizes[2] = {60, n && std::atoi(n) > 0 ? std::atoi(n) : 6000};
    constexpr int kRounds = 3, kStarts = 5;
    std::string why;
    xcb_window_t signedIn = 0;
    const auto home = desk.environment(true, desk.sharedHome());
    const pid_t first = locationsOnTestbed(*testbed, sizes[0]) ? signIn(desk, app, *testbed, &why, home, &signedIn) : -1;
    if (first <= 0) {
        locationsOnTestbed(*testbed, 0);
        state.SkipWithError(why.empty() ? "the locations could not be added" : why.c_str());
        return;
    }
    const auto mainSize = desk.size(signedIn);
    Desk::stop(first);
    std::vector<double> ms_[2];
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (const int side : {firstSideFirst(round) ? 0 : 1, firstSideFirst(round) ? 1 : 0}) {
                if (!locationsOnTestbed(*testbed, sizes[side])) {
                    locationsOnTestbed(*testbed, 0);
                    state.SkipWithError("the locations could not be added");
                    return;
                }
                for (int i = 0; i < kStarts; ++i) {
                    const auto start = Clock::now();
                    double elapsed = 0;
                    xcb_window_t window = 0;
                    const pid_t pid = desk.startAndWaitForWindow({app}, &elapsed, home, &window);
                    while (pid > 0 && window && desk.size(window) != mainSize) window = desk.waitForMap(pid, window, 30s);
                    const double painted = pid > 0 && window ? desk.paintedSince(window, start) : -1;
                    if (painted < 0) {
                        if (pid > 0) Desk::stop(pid);
                        locationsOnTestbed(*testbed, 0);
                        state.SkipWithError("a signed-in start showed no main window");
                        return;
                    }
                    ms_[side].push_back(painted);
                    Desk::stop(pid);
                }
            }
        }
        state.SetIterationTime(median(ms_[1]) / 1000.0);
    }
    locationsOnTestbed(*testbed, 0);
    std::printf("\nsigned-in start, exec to main window painted, ms, %d rounds of %d starts at each size\n", kRounds,
                kStarts);
    printSpreadHeader();
    printSpread(("at " + std::to_string(sizes[0]) + " locations").c_str(), ms_[0]);
    printSpread(("at " + std::to_string(sizes[1]) + " locations").c_str(), ms_[1]);
    printPairRatio("ratio many / few (target <= 2)", ms_[0], ms_[1]);
}
BENCHMARK(BM_SignedInStartManyLocations)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SignedInIdle(benchmark::State& state) {
    const auto testbed = hw::test::TestbedEnv::load();
    Desk desk;
    const std::string app = application();
    const std::vector<std::string> minimal{MINIMAL_BINARY, "--main-window"};
    if (!deskOnTestbed(state, desk, testbed, {{app}, minimal})) return;
    std::string why;
    // PSS splits each shared library among all its users on the machine, so it
    // moves with what else runs; the pages a process wrote for itself (heap,
    // stacks, libraries' data) do not.
    std::vector<double> appPss, minimalPss, appRss, minimalRss, appDirty, minimalDirty;
    for (auto _ : state) {
        // Both at once, idle through the same 30 s on the same machine: a
        // library both map splits its PSS between them alike. Which starts
        // first alternates.
        for (int i = 0; i < idleRuns(); ++i) {
            pid_t pid = 0, other = 0;
            double elapsed = 0;
            for (const bool real : {i % 2 == 0, i % 2 != 0}) {
                if (real) pid = signIn(desk, app, *testbed, &why);
                else other = desk.startAndWaitForWindow(minimal, &elapsed);
            }
            if (pid <= 0 || other <= 0) {
                if (pid > 0) Desk::stop(pid);
                if (other > 0) Desk::stop(other);
                state.SkipWithError(pid <= 0 ? why.c_str() : "the minimal program failed");
                return;
            }
            std::this_thread::sleep_for(30s);
            std::printf("idle run %d: libsecret %s, GIO %s\n", i, maps(pid, "libsecret-1.so") ? "mapped" : "not mapped",
                        maps(pid, "libgio-2.0.so") ? "mapped" : "not mapped");
            appPss.push_back(memoryMiB(pid, "Pss:"));
            minimalPss.push_back(memoryMiB(other, "Pss:"));
            appRss.push_back(memoryMiB(pid, "Rss:"));
            minimalRss.push_back(memoryMiB(other, "Rss:"));
            appDirty.push_back(memoryMiB(pid, "Private_Dirty:"));
            minimalDirty.push_back(memoryMiB(other, "Private_Dirty:"));
            Desk::stop(pid);
            Desk::stop(other);
        }
    }
    report(state, "PSS signed in, idle 30 s", appPss, minimalPss, "MiB", 2.0);
    report(state, "RSS signed in, idle 30 s", appRss, minimalRss, "MiB", 0);
    report(state, "private dirty, idle 30 s", appDirty, minimalDirty, "MiB", 0);
}
BENCHMARK(BM_SignedInIdle)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ForwardingSecondStart(benchmark::State& state) {
    Desk desk;
    std::string why;
    if (!desk.start(&why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string app = application();
    double shown = 0;
    const pid_t first = desk.startAndWaitForWindow({app}, &shown);
    if (first <= 0) {
        state.SkipWithError("the first copy showed no window");
        return;
    }
    const auto env = desk.environment();
    std::vector<double> appMs, minimalMs;
    for (auto _ : state) {
        for (int i = 0; i < kRuns; ++i) {
            const double second = desk.runToExit({app}, env);
            const double minimal = desk.runToExit({MINIMAL_BINARY, "--exit"}, env);
            if (second < 0 || minimal < 0) {
                state.SkipWithError("a start failed");
                break;
            }
            appMs.push_back(second);
            minimalMs.push_back(minimal);
        }
        state.SetIterationTime(median(appMs) / 1000.0);
    }
    Desk::stop(first);
    report(state, "forwarding start vs minimal exit", appMs, minimalMs, "ms");
}
BENCHMARK(BM_ForwardingSecondStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
