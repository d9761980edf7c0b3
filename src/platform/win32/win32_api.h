// The Win32 headers as the platform's Win32 implementation uses them, and the
// conversions between the portable handle types and the Win32 ones. Private
// to src/platform/win32/.
//
// <windows.h> defines names of the portable interface as macros
// (PostThreadMessage, WriteProfileString, ...) that would rename the
// definitions here and break the link with code that never sees the macros,
// so they are undefined after the include; this file must therefore be
// included before any platform header.
#pragma once

// clang-format off
#include <winsock2.h>  // before <windows.h>, which would bring in winsock 1
#include <windows.h>
// clang-format on

#undef PostThreadMessage
#undef WriteProfileString
#undef GetMessage
#undef PostMessage
#undef SendMessage

namespace ambervox {
namespace platform {

struct WindowObject;
struct ThreadObject;

inline HWND ToHwnd(WindowObject* window) { return reinterpret_cast<HWND>(window); }
inline WindowObject* FromHwnd(HWND window) { return reinterpret_cast<WindowObject*>(window); }
inline HANDLE ToHandle(ThreadObject* thread) { return reinterpret_cast<HANDLE>(thread); }
inline ThreadObject* FromHandle(HANDLE thread) { return reinterpret_cast<ThreadObject*>(thread); }

}  // namespace platform
}  // namespace ambervox
