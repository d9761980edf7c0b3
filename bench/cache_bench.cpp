// PlaylistCache::Rebuild of a 100,000-entry playlist from the simulated
// player on its own window thread: every title and file path is asked for
// with a synchronous message to that thread, as the refresh thread asks the
// player, and the artist list is sorted in the player's collation.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

namespace ambervox {
namespace bench {
namespace {

void BM_Rebuild(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  BenchBed bed(entries);
  for (auto _ : state) {
    if (!bed.cache.Rebuild()) {
      state.SkipWithError("Rebuild failed");
      break;
    }
  }
  if (bed.cache.EntryCount() != entries) state.SkipWithError("the cache does not hold the playlist");
  state.SetItemsProcessed(state.iterations() * entries);
}
BENCHMARK(BM_Rebuild)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace bench
}  // namespace ambervox

BENCHMARK_MAIN();
