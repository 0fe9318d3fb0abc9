#include "services/vpn_configs_service.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string_view>
#include <unordered_set>

#include "platform/log.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "VPNConfigsService";
constexpr char kFavoriteLocationClass[] = "FavoriteLocation";
constexpr char kFavoritesStateClass[] = "FavoriteLocationsState";
// A page of a backend query; a list may hold any number of them.
constexpr int kPageSize = 1000;

std::optional<double> mapFraction(const JSON* value) {
    if (!value) return std::nullopt;
    auto d = value->double_();
    if (!d || !std::isfinite(*d) || *d < 0 || *d > 1) return std::nullopt;
    return d;
}

// A local read; a missing datastore or a read error reads as nothing pinned.
void findLocal(ParseClient& parse, const std::string& cls, const std::string& pin,
               std::function<void(std::vector<ParseObject>)> done) {
    ParseQuery query(cls);
    // The datastore holds only what a full load pinned: all of it.
    query.limit = std::numeric_limits<int>::max();
    parse.findInLocalDatastore(query, pin, [done](std::vector<ParseObject> objects, OptionalParseError error) {
        done(error ? std::vector<ParseObject>{} : std::move(objects));
    });
}

}  // namespace

VPNConfigsService::VPNConfigsService(ParseClient& parse, BackgroundQueue* rowsQueue, MainQueue* mainQueue)
    : parse_(parse), rowsQueue_(rowsQueue && mainQueue ? rowsQueue : nullptr), mainQueue_(mainQueue) {}
VPNConfigsService::~VPNConfigsService() = default;

namespace {

// A page's rows in its order; ids repeated are left to the merge.
std::vector<LocationsListItemPtr> rowsOfPage(const std::vector<ParseObject>& objects) {
    std::vector<LocationsListItemPtr> rows;
    rows.reserve(objects.size());
    // Fields are read in place: a server configuration is kilobytes, and a
    // list may hold thousands of them.
    const auto field = [](const void* object, const char* key) {
        return static_cast<const ParseObject*>(object)->field(key);
    };
    for (const auto& o : objects) {
        if (o.objectId().empty()) continue;
        auto config = VPNParseConfig::fromFields(o.objectId(), &o, field);
        if (!config) {
            log::warning(kLog, "location " + o.objectId() + " has no usable server configuration; left out");
            continue;
        }
        auto row = std::make_shared<LocationsListItemModel>(o.objectId(), config->name);
        row->countryCode = config->countryCode;
        const JSON* recommended = o.field("isRecommended");
        row->isRecommended = recommended && recommended->boolValue();
        if (const JSON* regions = o.field("recommendedRegions"); regions && regions->type() == JSON::Type::array) {
            for (const auto& r : regions->arrayValue()) {
                if (auto s = r.string()) row->recommendedRegions.push_back(std::move(*s));
            }
        }
        const JSON* sortOrder = o.field("sortOrder");
        auto order = sortOrder ? sortOrder->double_() : std::nullopt;
        row->sortOrder = order && std::isfinite(*order) ? *order : 0;
        row->flag = o.file("flag");
        row->main_view_flag = o.file("main_view_flag");
        row->flag_px = mapFraction(o.field("flag_px"));
        row->flag_py = mapFraction(o.field("flag_py"));
        row->vpnConfig = std::move(config);
        rows.push_back(std::move(row));
    }
    return rows;
}

using PageRows = std::vector<LocationsListItemPtr>;

// The pages' rows as one list, as if made from their objects in one go: an
// id's first row stands, and the list is ordered by sortOrder.
std::vector<LocationsListItemPtr> mergedRows(const std::vector<const PageRows*>& pages) {
    std::size_t total = 0;
    for (const auto* page : pages) total += page ? page->size() : 0;
    std::vector<LocationsListItemPtr> rows;
    rows.reserve(total);
    std::unordered_set<std::string_view> seen;
    seen.reserve(total);
    for (const auto* page : pages) {
        if (!page) continue;
        for (const auto& row : *page) {
            if (seen.insert(row->objectId).second) rows.push_back(row);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a->sortOrder < b->sortOrder; });
    return rows;
}

}  // namespace

std::vector<LocationsListItemPtr> VPNConfigsService::rowsFrom(const std::vector<ParseObject>& objects) {
    const PageRows rows = rowsOfPage(objects);
    return mergedRows({&rows});
}

void VPNConfigsService::loadLocationsList(bool useCache, Completion completion) {
    if (useCache && parse_.hasLocalDatastore()) {
        loadFromCache(completion, [this, completion] {
            log::info(kLog, "no cached locations; loading from the backend");
            loadFromNetwork(completion, 1);
        });
    } else {
        loadFromNetwork(std::move(completion), 1);
    }
}

void VPNConfigsService::loadFromCache(Completion completion, std::function<void()> whenEmpty) {
    std::weak_ptr<bool> alive = alive_;
    findLocal(parse_, kConfigClass, kConfigsPin, [this, alive, completion, whenEmpty](std::vector<ParseObject> configs) {
        if (alive.expired()) return;
        withRows(std::move(configs), rowsFrom, [this, completion, whenEmpty](std::vector<ParseObject> configs,
                                                                   std::vector<LocationsListItemPtr> rows) {
            if (rows.empty()) {
                whenEmpty();
                return;
            }
            finish(std::move(configs), std::move(rows), false, completion);
        });
    });
}

void VPNConfigsService::loadFromNetwork(Completion completion, int sessionRetries) {
    std::weak_ptr<bool> alive = alive_;
    ParseQuery query(kConfigClass);
    // objectId last, so that pages of equal sortOrder never overlap.
    query.orderByAscending("sortOrder,objectId");
    query.limit = kPageSize;
    // Each page's rows are made where it was decoded, while later pages are
    // still on the way.
    auto pageRows = [](const std::vector<ParseObject>& page) -> ParseClient::PageMade {
        return std::make_shared<const PageRows>(rowsOfPage(page));
    };
    parse_.findAll(query, pageRows, [this, alive, completion, sessionRetries](std::vector<ParseObject> configs,
                                                                           std::vector<ParseClient::PageMade> made,
                                                                           OptionalParseError error) {
        if (alive.expired()) return;
        if (error && error->isInvalidSession() && onParseSessionExpired && sessionRetries > 0) {
            log::info(kLog, "session expired while loading the locations; signing in again");
            onParseSessionExpired([this, alive, completion, sessionRetries] {
                if (!alive.expired()) loadFromNetwork(completion, sessionRetries - 1);
            });
            return;
        }
        if (error) {
            log::warning(kLog, "loading the locations failed with code " + std::to_string(error->code));
            if (!parse_.hasLocalDatastore()) {
                completion(nullptr, error);
                return;
            }
            // A page lost on the way would leave the window without a
            // location to connect to: the list of the last load stands in.
            log::info(kLog, "the locations of the last load stand in, where there are any");
            loadFromCache(completion, [completion, error] { completion(nullptr, error); });
            return;
        }
        auto merge = [made = std::move(made)](const std::vector<ParseObject>&) {
            std::vector<const PageRows*> pages;
            for (const auto& page : made) pages.push_back(static_cast<const PageRows*>(page.get()));
            return mergedRows(pages);
        };
        withRows(std::move(configs), merge, [this, completion](std::vector<ParseObject> configs, std::vector<LocationsListItemPtr> rows) {
            if (rows.empty()) {
                ParseError empty;
                empty.code = kParseErrorObjectNotFound;
                empty.message = "the backend holds no usable locations";
                completion(nullptr, empty);
                return;
            }
            finish(std::move(configs), std::move(rows), true, completion);
        });
    });
}

void VPNConfigsService::withRows(std::vector<ParseObject> configs, RowsMaker make,
                                 std::function<void(std::vector<ParseObject>, std::vector<LocationsListItemPtr>)> then) {
    if (!rowsQueue_) {
        auto rows = make(configs);
        then(std::move(configs), std::move(rows));
        return;
    }
    struct Made {
        std::vector<ParseObject> configs;
        std::vector<LocationsListItemPtr> rows;
    };
    auto made = std::make_shared<Made>(Made{std::move(configs), {}});
    std::weak_ptr<bool> alive = alive_;
    rowsQueue_->async([made, alive, make = std::move(make), then = std::move(then), &main = *mainQueue_] {
        made->rows = make(made->configs);
        main.post([made, alive, then] {
            if (!alive.expired()) then(std::move(made->configs), std::move(made->rows));
        });
    });
}

void VPNConfigsService::finish(std::vector<ParseObject> configs, std::vector<LocationsListItemPtr> rows, bool fromNetwork,
                               Completion completion) {
    // Written once the stars are asked for: thousands of locations hold the
    // datastore's thread far longer than the stars, and the window waits on those.
    auto pending = std::make_shared<std::vector<ParseObject>>(std::move(configs));
    auto keep = [this, pending, fromNetwork] {
        if (fromNetwork && parse_.hasLocalDatastore() && !parse_.pinAll(kConfigsPin, std::move(*pending), true)) {
            log::warning(kLog, "could not keep the locations for the next start");
        }
    };
    std::weak_ptr<bool> alive = alive_;
    const auto pin = favoritesPin();
    auto shared = std::make_shared<std::vector<LocationsListItemPtr>>(std::move(rows));
    findLocal(parse_, kFavoritesStateClass, pin, [this, alive, pin, shared, fromNetwork, keep,
                                                  completion](std::vector<ParseObject> marker) {
        if (alive.expired()) return;
        if (!marker.empty()) {
            findLocal(parse_, kFavoriteLocationClass, pin, [this, alive, shared, completion](std::vector<ParseObject> favs) {
                if (alive.expired()) return;
                std::vector<std::string> ids;
                for (const auto& f : favs) ids.push_back(f.objectId());
                complete(std::move(*shared), std::move(ids), completion);
            });
            keep();
            return;
        }
        keep();
        if (!fromNetwork || !parse_.currentUser()) {
            complete(std::move(*shared), {}, completion);
            return;
        }
        loadBackendFavorites(shared, completion);
    });
}

void VPNConfigsService::loadBackendFavorites(std::shared_ptr<std::vector<LocationsListItemPtr>> rows,
                                             Completion completion) {
    std::weak_ptr<bool> alive = alive_;
    ParseQuery query(kFavoriteClass);
    query.wherePointerTo("user", "_User", parse_.currentUser()->objectId);
    query.orderByAscending("objectId");
    query.limit = kPageSize;
    parse_.findAll(query, [this, alive, rows, completion](std::vector<ParseObject> favorites, OptionalParseError error) {
        if (alive.expired()) return;
        std::vector<std::string> ids;
        if (error) {
            // The list is still usable without the stars.
            log::warning(kLog, "the favourites could not be loaded (code " + std::to_string(error->code) + ")");
        }
        for (const auto& f : favorites) {
            if (auto id = f.pointerId("config")) ids.push_back(*id);
        }
        // Seeds this device, so a cached load shows the same stars.
        if (!error) saveFavorites(favoritesPin(), ids);
        complete(std::move(*rows), std::move(ids), completion);
    });
}

void VPNConfigsService::complete(std::vector<LocationsListItemPtr> rows, std::vector<std::string> favorites,
                                 Completion completion) {
    const std::set<std::string> favoriteSet(favorites.begin(), favorites.end());
    for (auto& row : rows) row->isFavorite = favoriteSet.count(row->objectId) > 0;
    auto model = std::make_shared<LocationsListModel>(std::move(rows));
    std::weak_ptr<bool> alive = alive_;
    const auto pin = favoritesPin();
    model->onFavoritesChanged = [this, alive, pin](const std::vector<std::string>& ids) {
        if (!alive.expired()) saveFavorites(pin, ids);
    };
    log::info(kLog, "locations list loaded: " + std::to_string(model->items().size()) + " locations");
    completion(std::move(model), std::nullopt);
}

std::string VPNConfigsService::favoritesPin() const {
    const auto& user = parse_.currentUser();
    return std::string("favorites.") + (user ? user->objectId : std::string("anonymous"));
}

void VPNConfigsService::saveFavorites(const std::string& pin, const std::vector<std::string>& ids) {
    std::vector<ParseObject> objects;
    ParseObject state(kFavoritesStateClass);
    state.setObjectId("state");
    objects.push_back(state);
    for (const auto& id : ids) {
        ParseObject favorite(kFavoriteLocationClass);
        favorite.setObjectId(id);
        objects.push_back(std::move(favorite));
    }
    if (!parse_.pinAll(pin, objects, true)) log::warning(kLog, "could not store the favourites");
}

}  // namespace hw
