// RestoreCompanionWindow picks the companion's dialog by title and class
// among the top-level windows of this process.
#include "plugin/companion_window.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/window.h"

namespace ambervox {
namespace {

// Commands that reached the window meant to get them, and any command that
// reached a decoy.
std::atomic<int> restoreCommands{0};
std::atomic<int> otherCommands{0};
std::atomic<int> decoyCommands{0};

std::intptr_t CompanionProcedure(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  if (message == platform::kMsgCommand) {
    if (wParam == static_cast<std::uintptr_t>(kCompanionRestoreCommand) && lParam == 0) {
      ++restoreCommands;
    } else {
      ++otherCommands;
    }
    return 0;
  }
  return platform::DefaultWindowProc(window, message, wParam, lParam);
}

std::intptr_t DecoyProcedure(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  if (message == platform::kMsgCommand) ++decoyCommands;
  return platform::DefaultWindowProc(window, message, wParam, lParam);
}

class CompanionWindow : public ::testing::Test {
 protected:
  CompanionWindow() {
    restoreCommands = 0;
    otherCommands = 0;
    decoyCommands = 0;
  }
};

TEST_F(CompanionWindow, AWindowOfAnotherClassIsIgnored) {
  platform::WindowThread other("AmbervoxNotADialog", kCompanionWindowTitle, &DecoyProcedure);
  ASSERT_NE(other.window(), nullptr);
  EXPECT_FALSE(RestoreCompanionWindow());
  EXPECT_EQ(decoyCommands.load(), 0);
}

TEST_F(CompanionWindow, TheDialogGetsCommand40009AndOtherTitlesAreIgnored) {
  platform::WindowThread companion(kDialogWindowClass, kCompanionWindowTitle, &CompanionProcedure);
  if (companion.window() == nullptr) {
    GTEST_SKIP() << "the dialog class is the system's here; this program cannot make a window of it";
  }
  // Created later, so above the companion in the z-order.
  platform::WindowThread lookalike(kDialogWindowClass, "VelmaroV3 ", &DecoyProcedure);
  platform::WindowThread other(kDialogWindowClass, "velmarov3", &DecoyProcedure);
  ASSERT_NE(lookalike.window(), nullptr);
  EXPECT_TRUE(RestoreCompanionWindow());
  EXPECT_EQ(restoreCommands.load(), 1);
  EXPECT_EQ(otherCommands.load(), 0);
  EXPECT_EQ(decoyCommands.load(), 0);
}

TEST_F(CompanionWindow, OnlyTheTopmostMatchingWindowIsAddressed) {
  platform::WindowThread lower(kDialogWindowClass, kCompanionWindowTitle, &DecoyProcedure);
  if (lower.window() == nullptr) {
    GTEST_SKIP() << "the dialog class is the system's here; this program cannot make a window of it";
  }
  platform::WindowThread upper(kDialogWindowClass, kCompanionWindowTitle, &CompanionProcedure);
  EXPECT_TRUE(RestoreCompanionWindow());
  EXPECT_EQ(restoreCommands.load(), 1);
  EXPECT_EQ(decoyCommands.load(), 0);
}

TEST_F(CompanionWindow, NothingHappensWithoutAMatch) {
  EXPECT_FALSE(RestoreCompanionWindow());
  EXPECT_EQ(restoreCommands.load() + otherCommands.load() + decoyCommands.load(), 0);
}

}  // namespace
}  // namespace ambervox
