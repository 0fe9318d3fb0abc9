// The locations list as a sign-in loads it from the testbed's Parse Server
// (the demo account's sign-in, every page of the query, the datastore pin,
// the favourites, the model),
// with the seeded locations alone and again with HW_LOCATIONS (6,000 by
// default) more, cloned from a seeded one and removed at the end. Prints the
// time and the heap each load holds, and their growth per added location:
// a linear cost keeps both flat from one size to the next. Needs
// `scripts/testbed up`; run from build/release/bench.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "services/vpn_configs_service.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/qt_test_app.h"
#include "support/testbed_parse_config.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

struct Bench {
    explicit Bench(test::TestbedEnv e) : env(std::move(e)) {}
    test::TestbedEnv env;
    QtMainQueue queue;
    QtHttpClient http{queue};
    std::string folder;

    HttpResponse send(HttpRequest request) {
        std::optional<HttpResponse> out;
        http.send(std::move(request), [&](HttpResponse r) { out = std::move(r); });
        test::spinUntil([&] { return out.has_value(); }, 120000);
        return out.value_or(HttpResponse{});
    }
    HttpRequest master(const std::string& method, const std::string& path, const std::string& body = {}) const {
        HttpRequest r;
        r.method = method;
        r.url = env.parseUrl() + path;
        r.timeoutMs = 120000;
        r.headers = {{"X-Parse-Application-Id", env.get("HAVENWAY_TESTBED_APP_ID")},
                     {"X-Parse-Master-Key", env.get("HAVENWAY_TESTBED_MASTER_KEY")},
                     {"Content-Type", "application/json"}};
        r.body = body;
        return r;
    }
    // Sends every request at once, each on its own (this server's /batch
    // fails); the ids of the objects made.
    std::vector<std::string> each(const std::vector<HttpRequest>& requests) {
        std::vector<std::string> ids;
        std::size_t answered = 0;
        for (const auto& r : requests)
            http.send(r, [&](HttpResponse a) {
                ++answered;
                if (auto id = JSON::parse(a.body)["objectId"].string()) ids.push_back(*id);
            });
        test::spinUntil([&] { return answered == requests.size(); }, 600000);
        return ids;
    }

    struct Load {
        double ms = 0;
        double heapKiB = 0;  // held by the list once loaded
        std::size_t rows = 0;
    };
    // One sign-in's load, as the hub makes it: a fresh client and datastore.
    Load load() {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        test::FakeSecretStore secrets;
        test::FakeSettingsStore settings;
        ::malloc_trim(0);
        const auto before = ::mallinfo2().uordblks;
        const auto start = Clock::now();
        ParseClient parse(test::testbedParseConfig(env, "com.havenway.bench", folder + "/datastore.sqlite"), http, queue,
                          secrets, settings);
        parse.enableLocalDatastore();
        // Signed in, so the favourites are asked too.
        bool signedIn = false;
        parse.callFunction("authenticateUser",
                           JSON::dictionaryLiteral({{"username", env.get("HAVENWAY_TESTBED_DEMO_USER")},
                                                    {"password", env.get("HAVENWAY_TESTBED_DEMO_PASSWORD")}}),
                           [&](JSON, OptionalParseError) { signedIn = true; });
        test::spinUntil([&] { return signedIn; }, 60000);
        VPNConfigsService service(parse);
        std::shared_ptr<LocationsListModel> model;
        bool done = false;
        service.loadLocationsList(false, [&](std::shared_ptr<LocationsListModel> m, OptionalParseError) {
            model = std::move(m);
            done = true;
        });
        test::spinUntil([&] { return done; }, 300000);
        Load out;
        out.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        out.heapKiB = double(::mallinfo2().uordblks - before) / 1024.0;
        out.rows = model ? model->items().size() : 0;
        return out;
    }
};

}  // namespace

int main() {
    test::qtTestApp();
    auto env = test::TestbedEnv::load();
    if (!env) return std::printf("bench_locations_load: the testbed is not up (scripts/testbed up)\n"), 0;
    env->exportToEnvironment();  // the testbed's CA
    const char* n = std::getenv("HW_LOCATIONS");
    const int added = n && std::atoi(n) > 0 ? std::atoi(n) : 6000;
    Bench bench(*env);
    bench.folder = (std::filesystem::temp_directory_path() / ("hw-bench-locations-" + std::to_string(::getpid()))).string();

    auto seeded = JSON::parse(bench.send(bench.master("GET", "/classes/VPNConfig?limit=1")).body)["results"][0];
    if (!seeded["objectId"].string()) return std::puts("bench_locations_load: no seeded location"), 1;
    const auto small = bench.load();

    std::vector<HttpRequest> creates;
    for (int i = 0; i < added; ++i) {
        auto fields = seeded.dictionaryValue();
        for (const char* key : {"objectId", "createdAt", "updatedAt"}) fields.erase(key);
        fields["name"] = JSON("Japan " + std::to_string(i));
        fields["sortOrder"] = JSON(100 + i);
        creates.push_back(bench.master("POST", "/classes/VPNConfig", JSON(fields).rawString().value_or("")));
    }
    const auto ids = bench.each(creates);
    Bench::Load large;
    if (int(ids.size()) == added) large = bench.load();
    std::vector<HttpRequest> deletes;
    for (const auto& id : ids) deletes.push_back(bench.master("DELETE", "/classes/VPNConfig/" + id));
    bench.each(deletes);
    std::filesystem::remove_all(bench.folder);
    if (int(ids.size()) != added) return std::printf("bench_locations_load: %zu of %d locations made\n", ids.size(), added), 1;

    std::printf("%-28s %8s %12s %12s\n", "", "rows", "load_ms", "heap_KiB");
    std::printf("%-28s %8zu %12.1f %12.1f\n", "seeded locations", small.rows, small.ms, small.heapKiB);
    std::printf("%-28s %8zu %12.1f %12.1f\n", "with the added ones", large.rows, large.ms, large.heapKiB);
    const double more = double(large.rows - small.rows);
    std::printf("per added location: %.3f ms, %.2f KiB%s\n", (large.ms - small.ms) / more,
                (large.heapKiB - small.heapKiB) / more,
                large.rows == small.rows + std::size_t(added) ? "" : "   (ROWS MISSING)");
    return large.rows == small.rows + std::size_t(added) ? 0 : 1;
}
