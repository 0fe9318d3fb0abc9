// Parse plus a full typed walk of a 1 MiB locations-list reply, side by side
// with nlohmann::json::parse and simdjson's bare parse of the same bytes;
// counters report the tree's peak and retained heap bytes (the input buffer
// is not counted, the parsers' own buffers are). Every allocation of the
// process is counted alike, at malloc itself: simdjson's aligned buffers
// never pass through operator new. After Google Benchmark's table, each of
// our figures against the other library's, in rounds that alternate which
// side goes first.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench_sides.h"
#include "json/json.h"

#if HW_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace {

std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};

void noteAlloc(void* p) {
  if (!p) return;
  const auto n = static_cast<long long>(malloc_usable_size(p));
  const long long now = liveBytes.fetch_add(n) + n;
  long long peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}
void noteFree(void* p) {
  if (p) liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}

}  // namespace

// glibc's own allocator under ours: operator new, simdjson's posix_memalign
// and nlohmann's allocator all end here.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) noexcept {
  void* p = __libc_malloc(n);
  noteAlloc(p);
  return p;
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  void* p = __libc_calloc(count, size);
  noteAlloc(p);
  return p;
}
void* realloc(void* old, std::size_t n) noexcept {
  noteFree(old);
  void* p = __libc_realloc(old, n);
  // A failed growth leaves the old block where it was.
  noteAlloc(p ? p : (n ? old : nullptr));
  return p;
}
void* memalign(std::size_t alignment, std::size_t n) noexcept {
  void* p = __libc_memalign(alignment, n);
  noteAlloc(p);
  return p;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept { return memalign(alignment, n); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) noexcept {
  void* p = memalign(alignment, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) noexcept {
  noteFree(p);
  __libc_free(p);
}
}

namespace {

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p);
  return out;
}

// A reply shaped like the backend's locations list: locations with their
// servers, protocols and coordinates.
const std::string& locationsReply() {
  static const std::string text = [] {
    nlohmann::json result = nlohmann::json::array();
    int i = 0;
    std::string text;
    while (true) {
      nlohmann::json servers = nlohmann::json::array();
      for (int s = 0; s < 4; ++s) {
        servers.push_back({{"hostname", cat({"srv", std::to_string(i), "-", std::to_string(s), ".havenway.test"})},
                           {"ip", cat({"10.", std::to_string(i % 250), ".", std::to_string(s), ".7"})},
                           {"load", 0.125 * s},
                           {"port", 443 + s},
                           {"protocols", {"ikev2", "openvpn", "l2tp"}},
                           {"premium", s % 2 == 0}});
      }
      result.push_back({{"objectId", cat({"obj", std::to_string(i * 7919)})},
                        {"name", cat({"Location ", std::to_string(i)})},
                        {"countryCode", cat({"C", std::to_string(i % 90)})},
                        {"city", cat({"City with a longer name ", std::to_string(i)})},
                        {"latitude", 10.5 + i * 0.01},
                        {"longitude", -20.25 - i * 0.02},
                        {"order", i},
                        {"isFree", i % 3 == 0},
                        {"createdAt", "2026-01-02T03:04:05.678Z"},
                        {"servers", servers},
                        {"sharedSecret", nullptr}});
      ++i;
      if (i % 50 == 0) {
        text = nlohmann::json{{"result", result}}.dump();
        if (text.size() >= (1u << 20)) break;
      }
    }
    return text;
  }();
  return text;
}

std::int64_t walk(const hw::JSON& v) {
  switch (v.type()) {
    case hw::JSONType::string: return static_cast<std::int64_t>(v.stringValue().size());
    case hw::JSONType::number: return static_cast<std::int64_t>(v.doubleValue());
    case hw::JSONType::bool_: return v.boolValue() ? 1 : 0;
    case hw::JSONType::array:
    case hw::JSONType::dictionary: {
      std::int64_t sum = 0;
      for (const auto& [key, element] : v) sum += static_cast<std::int64_t>(key.size()) + walk(element);
      return sum;
    }
    default: return 0;
  }
}

std::int64_t walk(const nlohmann::json& v) {
  switch (v.type()) {
    case nlohmann::json::value_t::string: return static_cast<std::int64_t>(v.get<std::string>().size());
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float: return static_cast<std::int64_t>(v.get<double>());
    case nlohmann::json::value_t::boolean: return v.get<bool>() ? 1 : 0;
    case nlohmann::json::value_t::array: {
      std::int64_t sum = 0;
      std::size_t i = 0;
      for (const auto& element : v) sum += static_cast<std::int64_t>(std::to_string(i++).size()) + walk(element);
      return sum;
    }
    case nlohmann::json::value_t::object: {
      std::int64_t sum = 0;
      for (const auto& [key, element] : v.items()) sum += static_cast<std::int64_t>(key.size()) + walk(element);
      return sum;
    }
    default: return 0;
  }
}

template <typename Parse>
void measureMemory(benchmark::State& state, Parse parse) {
  const long long before = liveBytes.load();
  peakBytes.store(before);
  {
    auto tree = parse();
    state.counters["tree_bytes"] = static_cast<double>(liveBytes.load() - before);
    benchmark::DoNotOptimize(tree);
  }
  state.counters["peak_bytes"] = static_cast<double>(peakBytes.load() - before);
  state.counters["input_bytes"] = static_cast<double>(locationsReply().size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * locationsReply().size()));
}

void BM_JSON_ParseAndTypedWalk(benchmark::State& state) {
  const std::string& text = locationsReply();
  for (auto _ : state) {
    const hw::JSON v = hw::JSON::fromData(text);
    benchmark::DoNotOptimize(walk(v));
  }
  measureMemory(state, [&] { return hw::JSON::fromData(text); });
}

void BM_JSON_Parse(benchmark::State& state) {
  const std::string& text = locationsReply();
  for (auto _ : state) benchmark::DoNotOptimize(hw::JSON::fromData(text));
  measureMemory(state, [&] { return hw::JSON::fromData(text); });
}

void BM_Nlohmann_Parse(benchmark::State& state) {
  const std::string& text = locationsReply();
  for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(text));
  measureMemory(state, [&] { return nlohmann::json::parse(text); });
}

void BM_Nlohmann_ParseAndTypedWalk(benchmark::State& state) {
  const std::string& text = locationsReply();
  for (auto _ : state) {
    const nlohmann::json v = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(walk(v));
  }
  measureMemory(state, [&] { return nlohmann::json::parse(text); });
}

// The consumer's road: read one field of every location by key.
void BM_JSON_KeyedReads(benchmark::State& state) {
  const hw::JSON v = hw::JSON::fromData(locationsReply());
  for (auto _ : state) {
    std::int64_t sum = 0;
    for (const hw::JSON& location : v["result"].arrayValue())
      sum += static_cast<std::int64_t>(location["name"].stringValue().size()) + location.path("servers", 0, "port").intValue();
    benchmark::DoNotOptimize(sum);
  }
}

#if HW_BENCH_SIMDJSON
// GCC 12 misreads simdjson's inlined tape references as dangling.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// simdjson's DOM converted node by node, each container through its own
// vector: the plain way to the tree our parser builds from the same DOM.
hw::JSONObject convert(simdjson::dom::element e) {
  switch (e.type()) {
    case simdjson::dom::element_type::ARRAY: {
      std::vector<hw::JSONObject> items;
      simdjson::dom::array array;
      if (e.get_array().get(array)) return hw::JSONObject::null();
      for (simdjson::dom::element child : array) items.push_back(convert(child));
      return hw::JSONObject::adoptArray(std::move(items));
    }
    case simdjson::dom::element_type::OBJECT: {
      std::vector<hw::json_detail::Member> members;
      simdjson::dom::object object;
      if (e.get_object().get(object)) return hw::JSONObject::null();
      for (auto field : object)
        members.push_back({std::string(field.key), convert(field.value)});
      const std::size_t n = hw::json_detail::sortAndDeduplicate(members.data(), members.size());
      return hw::JSONObject::adoptSortedMembers(members.data(), n);
    }
    case simdjson::dom::element_type::INT64: return hw::JSONObject(e.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64: return hw::JSONObject(e.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE: return hw::JSONObject(e.get_double().value_unsafe());
    case simdjson::dom::element_type::STRING: return hw::JSONObject(e.get_string().value_unsafe());
    case simdjson::dom::element_type::BOOL: return hw::JSONObject(e.get_bool().value_unsafe());
    case simdjson::dom::element_type::NULL_VALUE: return hw::JSONObject::null();
  }
  return hw::JSONObject::null();
}

void BM_Simdjson_ParseConvertAndTypedWalk(benchmark::State& state) {
  const std::string& text = locationsReply();
  simdjson::dom::parser parser;
  for (auto _ : state) {
    const simdjson::padded_string padded(text);
    const hw::JSON v(convert(parser.parse(padded).value()));
    benchmark::DoNotOptimize(walk(v));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_Simdjson_Parse(benchmark::State& state) {
  const std::string& text = locationsReply();
  simdjson::dom::parser parser;
  for (auto _ : state) {
    const simdjson::padded_string padded(text);
    benchmark::DoNotOptimize(parser.parse(padded).value());
  }
  // Its tree is the parser's tape and strings, read from its padded copy.
  struct Dom {
    explicit Dom(const std::string& text) : padded(text) { benchmark::DoNotOptimize(parser.parse(padded).value()); }
    simdjson::padded_string padded;
    simdjson::dom::parser parser;
  };
  measureMemory(state, [&] { return std::make_unique<Dom>(text); });
}
#pragma GCC diagnostic pop
#endif

}  // namespace

#if HW_BENCH_SIMDJSON
BENCHMARK(BM_Simdjson_ParseConvertAndTypedWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simdjson_Parse)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_JSON_ParseAndTypedWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JSON_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_ParseAndTypedWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JSON_KeyedReads)->Unit(benchmark::kMicrosecond);

namespace {

// One side's time per parse, in ms, over a few parses.
double timed(const std::function<void()>& once) {
  constexpr int kParses = 5;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kParses; ++i) once();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / kParses;
}

// Ours against the other library's doing the same work, in pairs whose order
// flips every round, so neither always meets what the other left warm.
void alternate(const char* label, const std::function<void()>& ours, const std::function<void()>& theirs) {
  constexpr int kRounds = 20;
  std::vector<double> a, b;
  for (int round = 0; round < kRounds; ++round) {
    if (firstSideFirst(round)) {
      a.push_back(timed(ours));
      b.push_back(timed(theirs));
    } else {
      b.push_back(timed(theirs));
      a.push_back(timed(ours));
    }
  }
  std::printf("\n%s, ms per parse, %d rounds\n", label, kRounds);
  printSpreadHeader();
  printSpread("ours", a);
  printSpread("theirs", b);
  printPairRatio("ratio ours / theirs", b, a);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string& text = locationsReply();
  alternate("parse: JSON / nlohmann", [&] { benchmark::DoNotOptimize(hw::JSON::fromData(text)); },
            [&] { benchmark::DoNotOptimize(nlohmann::json::parse(text)); });
  alternate("parse and typed walk: JSON / nlohmann", [&] { benchmark::DoNotOptimize(walk(hw::JSON::fromData(text))); },
            [&] { benchmark::DoNotOptimize(walk(nlohmann::json::parse(text))); });
#if HW_BENCH_SIMDJSON
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
  simdjson::dom::parser parser;
  alternate("parse: JSON / simdjson's DOM", [&] { benchmark::DoNotOptimize(hw::JSON::fromData(text)); },
            [&] {
              const simdjson::padded_string padded(text);
              benchmark::DoNotOptimize(parser.parse(padded).value());
            });
#pragma GCC diagnostic pop
#endif
  return 0;
}
