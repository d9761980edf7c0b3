// PlaylistCache::Rebuild of a 100,000-entry playlist from the simulated
// player on its own window thread, as the refresh thread reads the player:
// - InBatches: the window answers the playlist batch message as the
//   plug-in's hook does in the player (PlayerChannel::AnswerPlaylistBatch), so
//   the rebuild sends one synchronous message per batch of entries;
// - EntryByEntry: a window without the hook, so every title and file path
//   is asked for with a synchronous message of its own (the fallback, and
//   the way every rebuild read the player before the batches).
// The artist list is sorted in the player's collation in both.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "support/batch_answering_player.h"
#include "support/playlist_cache_reads.h"

namespace ambervox {
namespace bench {
namespace {

// The simulated player with a generated playlist on a window thread whose
// procedure is `procedure`, and a cache reading it.
struct RebuildBed {
  RebuildBed(int entries, platform::WindowProc procedure)
      : player(Playlist(entries)), window("AmbervoxBenchPlayer", "Bench player", procedure) {
    player.Attach(window.window());
    cache.SetPlayer(channel.Host());
  }
  ~RebuildBed() { player.Detach(); }

  SimulatedPlayer player;
  platform::WindowThread window;
  // Answered through only when `procedure` answers the messages.
  testing::AnsweringChannel channel{window.window()};
  PlaylistCache cache;
};

void RunRebuild(benchmark::State& state, platform::WindowProc procedure) {
  const int entries = static_cast<int>(state.range(0));
  RebuildBed bed(entries, procedure);
  for (auto _ : state) {
    if (!bed.cache.Rebuild()) {
      state.SkipWithError("Rebuild failed");
      break;
    }
  }
  if (testing::EntryCount(bed.cache) != entries) state.SkipWithError("the cache does not hold the playlist");
  state.SetItemsProcessed(state.iterations() * entries);
}

void BM_RebuildInBatches(benchmark::State& state) {
  const int before = testing::BatchesAnswered().load();
  RunRebuild(state, &testing::BatchAnsweringPlayerProcedure);
  if (testing::BatchesAnswered().load() == before) state.SkipWithError("no batch was answered");
}
BENCHMARK(BM_RebuildInBatches)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RebuildEntryByEntry(benchmark::State& state) { RunRebuild(state, &SimulatedPlayer::WindowProcedure); }
BENCHMARK(BM_RebuildEntryByEntry)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace bench
}  // namespace ambervox

BENCHMARK_MAIN();
