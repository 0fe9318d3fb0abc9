// A star click as the user makes it: the real main window offscreen, its
// table's star on one location, to everything the click sets going done. The
// window moves the row and reloads, the favourites pin is replaced in the
// local datastore (the state marker and the starred locations, as the configs
// service stores them, in a store that holds the locations too), the tray's
// menus rebuild their Location submenu on the main queue, and the table is
// repainted. With 60 locations and with 6,000 (HW_LOCATIONS), alternating
// which goes first. Prints min, median and max of each and of the pairs'
// ratio (target: within 2x). HW_BENCH_DIR names a disk-backed folder.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/menu_bar_menu_controller.h"
#include "bench_folder.h"
#include "bench_sides.h"
#include "main_window_rig.h"
#include "platform/backend/local_datastore.h"
#include "support/recording_menu_commands.h"
#include "windows/shared/widgets/locations_table_widget.h"

namespace {

using hw::LocalDatastore;
using Clock = std::chrono::steady_clock;

// A location row is about this long (its OpenVPN configuration dominates).
std::vector<LocalDatastore::StoredObject> locations(int n) {
    std::vector<LocalDatastore::StoredObject> out;
    const std::string ovpn(1500, 'x');
    for (int i = 0; i < n; ++i) {
        const auto id = "id" + std::to_string(i);
        out.push_back({"VPNConfig", id,
                       R"({"className":"VPNConfig","objectId":")" + id + R"(","ovpnConfigWithDNSName":")" + ovpn +
                           R"("})"});
    }
    return out;
}

struct Window {
    explicit Window(int n) : rig(n, false), folder("hw-bench-star") {
        store = LocalDatastore::open(folder.path + "/datastore.sqlite");
        if (store) store->replacePin("vpnConfigs", locations(n));
        // As the configs service saves the stars.
        rig.list->onFavoritesChanged = [this](const std::vector<std::string>& ids) {
            std::vector<LocalDatastore::StoredObject> objects{{"FavoriteLocationsState", "state", "{}"}};
            for (const auto& id : ids) objects.push_back({"FavoriteLocation", id, "{}"});
            saved = store->replacePin("favorites.user", objects);
        };
        menus.locationsListModel = rig.list;
        menus.prepareMenu();
        rig.controller->showWindow();
        rig.controller->setupMainView(rig.list, {});
        rig.widget.table()->viewport()->grab();
        rig.settle(200);
        starred = rig.list->items()[7];
    }
    // The star of the same location, on and off by turns.
    double click() {
        const auto row = rig.controller->tableViewModel().rowOfItem(starred.get());
        if (!row) return -1;
        saved = false;
        const auto start = Clock::now();
        rig.widget.table()->onStarClicked(*row);
        // What the click posted (the menus' rebuild) runs, then the paint.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        rig.widget.table()->viewport()->grab();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        return saved ? ms : -1;
    }
    hw::bench::Rig rig;
    hw::bench::BenchFolder folder;
    std::unique_ptr<LocalDatastore> store;
    hw::test::RecordingMenuCommands commands;
    hw::MenuBarMenuController menus{rig.model, commands, nullptr, rig.queue};
    hw::LocationsListItemPtr starred;
    bool saved = false;
};

}  // namespace

int main() {
    const char* env = std::getenv("HW_LOCATIONS");
    const int many = env && std::atoi(env) > 0 ? std::atoi(env) : 6000;
    constexpr int kFew = 60, kRounds = 30;
    Window few(kFew), lots(many);
    if (!few.store || !lots.store) return std::printf("bench_star_click: no datastore\n"), 1;
    std::vector<double> a, b;
    for (int i = 0; i < kRounds; ++i) {
        const bool fewFirst = firstSideFirst(i);
        const double first = (fewFirst ? few : lots).click();
        const double second = (fewFirst ? lots : few).click();
        if (first < 0 || second < 0) return std::printf("bench_star_click: a click saved no favourites\n"), 1;
        a.push_back(fewFirst ? first : second);
        b.push_back(fewFirst ? second : first);
    }
    printSpreadHeader();
    printSpread(("star click at " + std::to_string(kFew) + " locations, ms").c_str(), a);
    printSpread(("star click at " + std::to_string(many) + " locations, ms").c_str(), b);
    printPairRatio("ratio many / few (target <= 2)", a, b);
    std::printf("%d rounds, the smaller list first in even rounds\n", kRounds);
    return 0;
}
