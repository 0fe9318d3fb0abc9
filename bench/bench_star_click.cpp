// A star click as the datastore sees it: the favourites pin replaced (the
// state marker and the starred locations, as the configs service stores
// them) in a store that holds 60 locations, and in one that holds 6,000
// (HW_LOCATIONS), alternating. Prints min, median and max of each and of the
// pairs' ratio (target: within 2x). HW_BENCH_DIR names a disk-backed folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "bench_sides.h"
#include "platform/backend/local_datastore.h"

namespace {

using hw::LocalDatastore;
using Clock = std::chrono::steady_clock;

// A location row is about this long (its OpenVPN configuration dominates).
std::vector<LocalDatastore::StoredObject> locations(int n) {
    std::vector<LocalDatastore::StoredObject> out;
    const std::string ovpn(1500, 'x');
    for (int i = 0; i < n; ++i) {
        const auto id = "cfg" + std::to_string(i);
        out.push_back({"VPNConfig", id,
                       R"({"className":"VPNConfig","objectId":")" + id + R"(","ovpnConfigWithDNSName":")" + ovpn +
                           R"("})"});
    }
    return out;
}

std::vector<LocalDatastore::StoredObject> favorites(int round) {
    std::vector<LocalDatastore::StoredObject> out{{"FavoriteLocationsState", "state", "{}"}};
    for (int i = 0; i < 3 + round % 2; ++i) out.push_back({"FavoriteLocation", "cfg" + std::to_string(i * 7), "{}"});
    return out;
}

struct Store {
    explicit Store(int n) : folder("hw-bench-star") {
        store = LocalDatastore::open(folder.path + "/datastore.sqlite");
        if (store) store->replacePin("vpnConfigs", locations(n));
    }
    double click(int round) {
        const auto start = Clock::now();
        if (!store->replacePin("favorites.user", favorites(round))) return -1;
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    hw::bench::BenchFolder folder;
    std::unique_ptr<LocalDatastore> store;
};

}  // namespace

int main() {
    const char* env = std::getenv("HW_LOCATIONS");
    const int many = env && std::atoi(env) > 0 ? std::atoi(env) : 6000;
    constexpr int kFew = 60, kRounds = 30;
    Store few(kFew), lots(many);
    if (!few.store || !lots.store) return std::printf("bench_star_click: no datastore\n"), 1;
    std::vector<double> a, b;
    for (int i = 0; i < kRounds; ++i) {
        const bool fewFirst = firstSideFirst(i);
        const double first = (fewFirst ? few : lots).click(i);
        const double second = (fewFirst ? lots : few).click(i);
        a.push_back(fewFirst ? first : second);
        b.push_back(fewFirst ? second : first);
    }
    printSpreadHeader();
    printSpread(("star click at " + std::to_string(kFew) + " locations, ms").c_str(), a);
    printSpread(("star click at " + std::to_string(many) + " locations, ms").c_str(), b);
    printPairRatio("ratio many / few (target <= 2)", a, b);
    std::printf("%d rounds, the smaller store first in even rounds\n", kRounds);
    return 0;
}
