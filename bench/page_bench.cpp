// The playlist page's costs on one connection thread: choosing the rows
// (BuildPlaylistPage) with a search word or a leading text over playlists of
// 1,000 to 200,000 titles, rendering the default skin (RenderSkin, over
// the pieces the site keeps) and compressing and sending the page (SendCompressed,
// through the connection's send seam into a null sink).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/bench_support.h"

namespace ambervox {
namespace bench {
namespace {

// A search word in every tenth title, on its last page: the walk reads every
// title, as a listener who pages to the end of the results makes it do.
void BM_BuildPlaylistPage_Search(benchmark::State& state) {
  const int titles = static_cast<int>(state.range(0));
  BenchBed bed(titles);
  bed.page.state.searchWord = "little garden";
  bed.page.state.current = titles / 10 - bed.settings.MaxEntries();
  for (auto _ : state) {
    BuildPlaylistPage(bed.page);
    benchmark::DoNotOptimize(bed.page.state.rows.data());
  }
  if (bed.page.state.rows.size() != static_cast<std::size_t>(bed.settings.MaxEntries())) {
    state.SkipWithError("the last page of the search is not full");
  }
  state.SetItemsProcessed(state.iterations() * titles);
}
BENCHMARK(BM_BuildPlaylistPage_Search)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMicrosecond);

// A word that no title holds: the whole list is read and no row is kept.
void BM_BuildPlaylistPage_SearchNoMatch(benchmark::State& state) {
  const int titles = static_cast<int>(state.range(0));
  BenchBed bed(titles);
  bed.page.state.searchWord = "zebra";
  for (auto _ : state) {
    BuildPlaylistPage(bed.page);
    benchmark::DoNotOptimize(bed.page.state.rows.data());
  }
  state.SetItemsProcessed(state.iterations() * titles);
}
BENCHMARK(BM_BuildPlaylistPage_SearchNoMatch)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// An artist chosen from the list (a leading text), on its last page.
void BM_BuildPlaylistPage_StartsWith(benchmark::State& state) {
  const int titles = static_cast<int>(state.range(0));
  BenchBed bed(titles);
  bed.page.state.startsWith = "nova thistle - ";
  bed.page.state.current = titles / 10 - bed.settings.MaxEntries();
  for (auto _ : state) {
    BuildPlaylistPage(bed.page);
    benchmark::DoNotOptimize(bed.page.state.rows.data());
  }
  if (bed.page.state.rows.size() != static_cast<std::size_t>(bed.settings.MaxEntries())) {
    state.SkipWithError("the last page of the artist is not full");
  }
  state.SetItemsProcessed(state.iterations() * titles);
}
BENCHMARK(BM_BuildPlaylistPage_StartsWith)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The whole default skin for the first page of a 10,000-title playlist
// with ten requests waiting: the rows, then every template line.
void BM_RenderSkin_DefaultSkin(benchmark::State& state) {
  BenchBed bed(10000);
  bed.QueueRequests(10);
  const std::vector<SkinPiece> skin = SkinPieces();
  if (skin.empty()) {
    state.SkipWithError("the default skin was not found");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    ByteString page = bed.Render(skin);
    bytes = static_cast<std::size_t>(page.Length());
    benchmark::DoNotOptimize(page.Data());
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RenderSkin_DefaultSkin)->Unit(benchmark::kMicrosecond);

// The whole default skin, first page, of a 200,000-title playlist with 50
// requests waiting, after an edit that moved every queued song (the DJ
// removed the first title): each queue row finds its song's row from the
// table the rebuild made, instead of walking the playlist (issue 26).
void BM_RenderPage_QueueAfterEdit(benchmark::State& state) {
  BenchBed bed(200000);
  for (int i = 0; i < 50; ++i) {
    UserId user;
    user.CreateNew();
    bed.queue.AddRequest(1000 + i * 3900, "10.0.0.1", user, false);
  }
  bed.player.RemoveEntry(0);
  if (!bed.cache.Rebuild()) state.SkipWithError("the rebuild failed");
  const std::vector<SkinPiece> skin = SkinPieces();
  std::size_t bytes = 0;
  for (auto _ : state) {
    ByteString page = bed.Render(skin);
    bytes = static_cast<std::size_t>(page.Length());
    benchmark::DoNotOptimize(page.Data());
  }
  ByteString title;
  RequestEntry entry;
  if (bed.queue.RequestCount() != 50 || !bed.queue.GetEntry(49, title, entry) || !title.Contains("#192100")) {
    state.SkipWithError("the queue does not show its 50 songs");
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderPage_QueueAfterEdit)->Unit(benchmark::kMillisecond);

// The rendered page above, sent as the browser accepts it: 0 as it is,
// 1 deflate, 2 gzip. The same page every time, as a busy station sends it:
// after the first, its compressed bytes are reused.
void BM_SendCompressed(benchmark::State& state) {
  BenchBed bed(10000);
  bed.QueueRequests(10);
  const std::vector<SkinPiece> skin = SkinPieces();
  const ByteString page = bed.Render(skin);
  const int encoding = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (!bed.connection.SendCompressed(page.Data(), page.Length() + 1, encoding)) {
      state.SkipWithError("SendCompressed sent nothing");
      break;
    }
  }
  state.counters["page_bytes"] = page.Length() + 1;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (page.Length() + 1));
}
BENCHMARK(BM_SendCompressed)
    ->Arg(kEncodingNone)
    ->Arg(kEncodingDeflate)
    ->Arg(kEncodingGzip)
    ->Unit(benchmark::kMicrosecond);

// As above, but every page differs from the ones before it in its first
// bytes: each is compressed afresh at level 9.
void BM_SendCompressed_NewPage(benchmark::State& state) {
  BenchBed bed(10000);
  bed.QueueRequests(10);
  const ByteString rendered = bed.Render(SkinPieces());
  std::string page(rendered.Data(), static_cast<std::size_t>(rendered.Length()) + 1);
  const int encoding = static_cast<int>(state.range(0));
  std::uint64_t serial = 0;
  for (auto _ : state) {
    const std::string stamp = std::to_string(++serial);
    page.replace(0, stamp.size(), stamp);
    if (!bed.connection.SendCompressed(page.data(), static_cast<int>(page.size()), encoding)) {
      state.SkipWithError("SendCompressed sent nothing");
      break;
    }
  }
  state.counters["page_bytes"] = static_cast<double>(page.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_SendCompressed_NewPage)->Arg(kEncodingDeflate)->Arg(kEncodingGzip)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
}  // namespace ambervox

BENCHMARK_MAIN();
