// WaitUntil: polls a condition every 5 ms; true as soon as it holds, false
// when it still does not after `seconds`.
#pragma once

#include <chrono>

#include "platform/threads.h"

namespace ambervox {
namespace testing {

template <typename Condition>
bool WaitUntil(Condition condition, int seconds = 20) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::SleepMilliseconds(5);
  }
  return true;
}

}  // namespace testing
}  // namespace ambervox
