// rebuildLists runs on every search keystroke; 10,000 locations must rebuild well under 1 ms.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "services/locations_list_model.h"

namespace {

std::vector<hw::LocationsListItemPtr> makeItems(int count) {
    static const char* names[] = {"Netherlands", "Germany", "United Kingdom", "United States", "Canada", "Japan",
                                  "Brazil",      "Austria", "South Africa",   "New Zealand",   "Sweden", "Spain"};
    std::vector<hw::LocationsListItemPtr> items;
    items.reserve(count);
    for (int i = 0; i < count; ++i) {
        auto item = std::make_shared<hw::LocationsListItemModel>("id" + std::to_string(i),
                                                                 std::string(names[i % 12]) + " " + std::to_string(i));
        item->isFavorite = i % 97 == 0;
        item->isRecommended = i % 13 == 0;
        items.push_back(std::move(item));
    }
    return items;
}

void BM_RebuildListsNoSearch(benchmark::State& state) {
    hw::LocationsListModel model(makeItems(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        model.rebuildLists();
        benchmark::DoNotOptimize(model.listWithGroups().size());
    }
}
BENCHMARK(BM_RebuildListsNoSearch)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_RebuildListsWithSearch(benchmark::State& state) {
    hw::LocationsListModel model(makeItems(static_cast<int>(state.range(0))));
    model.applySearchString("United");
    for (auto _ : state) {
        model.rebuildLists();
        benchmark::DoNotOptimize(model.listWithGroups().size());
    }
}
BENCHMARK(BM_RebuildListsWithSearch)->Arg(10000)->Unit(benchmark::kMicrosecond);

// What a keystroke costs: a new search text, rebuilt and listed.
void BM_SearchKeystroke(benchmark::State& state) {
    hw::LocationsListModel model(makeItems(static_cast<int>(state.range(0))));
    const char* texts[] = {"u", "un", "uni", "unit", "unite", "united"};
    std::size_t i = 0;
    for (auto _ : state) {
        model.applySearchString(texts[i++ % 6]);
        benchmark::DoNotOptimize(model.listWithGroups().size());
    }
}
BENCHMARK(BM_SearchKeystroke)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
