// A rebuild that runs out of memory part-way. This program replaces the
// global operator new so that the n-th allocation made by the test thread
// fails; every n is tried in turn until a rebuild gets through.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <new>
#include <string>
#include <thread>

#include "platform/window.h"
#include "requests/playlist_cache.h"
#include "simulated_player.h"
#include "support/playlist_cache_reads.h"

// The sanitizers bring their own operator new, which cannot be replaced
// there; the test then only runs in the plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define AMBERVOX_OWN_OPERATOR_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define AMBERVOX_OWN_OPERATOR_NEW 0
#endif
#endif
#ifndef AMBERVOX_OWN_OPERATOR_NEW
#define AMBERVOX_OWN_OPERATOR_NEW 1
#endif

namespace {

// Allocations left before one fails on this thread; negative: none fails.
thread_local long t_allocationsBeforeFailure = -1;
thread_local bool t_failed = false;

}  // namespace

#if AMBERVOX_OWN_OPERATOR_NEW
void* operator new(std::size_t size) {
  if (t_allocationsBeforeFailure == 0) {
    t_allocationsBeforeFailure = -1;
    t_failed = true;
    throw std::bad_alloc();
  }
  if (t_allocationsBeforeFailure > 0) --t_allocationsBeforeFailure;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

// gcc sees free() of memory that came from operator new and warns; here the
// replacement operator new itself takes the memory from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace ambervox {
namespace {

std::vector<SimulatedEntry> Playlist(const char* prefix, int count) {
  std::vector<SimulatedEntry> entries;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    entries.push_back({std::string(prefix) + n + ".mp3", std::string(prefix) + " Artist " + n + " - Song\r\n", 60});
  }
  return entries;
}

// True when another thread can read the cache: a failed rebuild must not
// leave the lock on its content pointer held.
bool LockIsFree(const PlaylistCache& cache) {
  std::packaged_task<int()> lookup([&cache] { return testing::EntryCount(cache); });
  std::future<int> result = lookup.get_future();
  std::thread worker(std::move(lookup));
  if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: the cache's lock was left held by a failed rebuild\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  worker.join();
  return true;
}

TEST(PlaylistCacheMemoryTest, AFailedRebuildReleasesTheLockAndKeepsThePreviousContent) {
  if (!AMBERVOX_OWN_OPERATOR_NEW) GTEST_SKIP() << "the sanitizer owns operator new";
  // The player's window belongs to this thread, so that the rebuild's
  // messages are answered here without the platform's cross-thread calls.
  platform::WindowHandle window =
      platform::CreateTopLevelWindow("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure);
  ASSERT_NE(nullptr, window);
  {
    SimulatedPlayer player(Playlist("old", 3));
    player.Attach(window);
    PlaylistCache cache;
    cache.SetPlayer(PlayerHost(window));
    ASSERT_TRUE(cache.Rebuild());
    player.SetPlaylist(Playlist("new", 12));

    int failures = 0;
    for (long n = 0; n < 100000; ++n) {
      t_failed = false;
      t_allocationsBeforeFailure = n;
      bool rebuilt = false;
      EXPECT_NO_THROW(rebuilt = cache.Rebuild());
      t_allocationsBeforeFailure = -1;
      ASSERT_TRUE(LockIsFree(cache));
      if (!t_failed) {
        EXPECT_TRUE(rebuilt);
        break;
      }
      ++failures;
      EXPECT_FALSE(rebuilt) << "allocation " << n;
      ASSERT_EQ(3, testing::EntryCount(cache)) << "allocation " << n;
      ASSERT_EQ(3, testing::ArtistCount(cache)) << "allocation " << n;
      ByteString title;
      ASSERT_TRUE(testing::GetTitle(cache, 2, title));
      EXPECT_TRUE(title.Equals("old Artist 2 - Song")) << "allocation " << n;
    }
    EXPECT_GT(failures, 12) << "the rebuild should allocate for every entry";
    EXPECT_EQ(12, testing::EntryCount(cache));
    EXPECT_EQ(12, testing::ArtistCount(cache));
    ByteString artist;
    ASSERT_TRUE(testing::GetArtist(cache, 11, artist));
    EXPECT_TRUE(artist.Equals("new Artist 9"));  // "...11" sorts before "...9"
  }
  platform::DestroyTopLevelWindow(window);
}

}  // namespace
}  // namespace ambervox
