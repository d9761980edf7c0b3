// The neighbour's subclass on POSIX: the window's procedure replaced through
// the platform library, which stands in for user32 here.
#include <dlfcn.h>

#include <string>

#include "neighbour_subclass.h"
#include "platform/posix/window_procedure.h"

namespace neighbour {
namespace {

ambervox::platform::WindowProc previous = nullptr;

std::intptr_t NeighbourProc(ambervox::platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
  if (previous == nullptr) return ambervox::platform::DefaultWindowProc(window, message, wParam, lParam);
  return previous(window, message, wParam, lParam);
}

}  // namespace

bool Subclass(ambervox::platform::WindowHandle window) {
  previous = ambervox::platform::posix::SetWindowProcedure(window, &NeighbourProc);
  return previous != nullptr;
}

void RestoreBlindly(ambervox::platform::WindowHandle window) {
  if (previous != nullptr) ambervox::platform::posix::SetWindowProcedure(window, previous);
}

std::string ModuleFileName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&NeighbourProc), &info) == 0 || info.dli_fname == nullptr) return std::string();
  std::string name = info.dli_fname;
  std::string::size_type slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void PinSelf() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&NeighbourProc), &info) == 0 || info.dli_fname == nullptr) return;
  if (void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(handle);
}

}  // namespace neighbour
