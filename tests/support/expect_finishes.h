// ExpectFinishes: runs `work` on a thread of its own and waits for it. Two
// objects that wait for each other (a lock held across a message to the
// player, say) leave that thread blocked for good; the program then ends
// with a failure that names `what` and `suspect` instead of hanging (the
// thread cannot be abandoned while it uses the test's objects).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace ambervox {
namespace testing {

inline void ExpectFinishes(const char* what, const char* suspect, std::function<void()> work) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread worker([work, done] {
    work();
    done->set_value();
  });
  if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: %s did not finish: %s\n", what, suspect);
    std::fflush(stderr);
    std::_Exit(1);
  }
  worker.join();
}

}  // namespace testing
}  // namespace ambervox
