// The neighbour's subclass on Win32: SetWindowLongPtrW / CallWindowProcW on
// the player's Unicode main window, as a plug-in written against user32
// does it.
#include <windows.h>

#include <string>

#include "neighbour_subclass.h"

namespace neighbour {
namespace {

WNDPROC previous = nullptr;

LRESULT CALLBACK NeighbourProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(previous, hwnd, message, wParam, lParam);
}

HWND ToHwnd(ambervox::platform::WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

bool Subclass(ambervox::platform::WindowHandle window) {
  previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(ToHwnd(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NeighbourProc)));
  return previous != nullptr;
}

void RestoreBlindly(ambervox::platform::WindowHandle window) {
  if (previous != nullptr && IsWindow(ToHwnd(window))) {
    SetWindowLongPtrW(ToHwnd(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  }
}

std::string ModuleFileName() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&NeighbourProc), &self);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(self, path, MAX_PATH);
  std::string name = path;
  std::string::size_type slash = name.find_last_of("\\/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void PinSelf() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&NeighbourProc), &self);
}

}  // namespace neighbour
