// AMBERVOX_EXPORT: marks a function that a loadable module offers to the
// program that loads it, under its undecorated C name with the default C
// calling convention (the plug-in's entry that the player looks up by name).
// Win32: exported from the DLL. POSIX: the one symbol left visible when the
// rest of the module is built with hidden visibility.
#pragma once

#ifdef _WIN32
#define AMBERVOX_EXPORT extern "C" __declspec(dllexport)
#else
#define AMBERVOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif
