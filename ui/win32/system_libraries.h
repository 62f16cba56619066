// DLLs that Windows does not pin to System32 (msimg32 and comctl32 are not known DLLs)
// are never imported statically: a copy planted beside the program would be loaded
// instead. They are loaded at run time from System32 only.
#pragma once

#include <windows.h>

namespace esc {

// Makes System32 the only folder searched by every later DLL load of the process without
// a path, those that Windows components make on the program's behalf included. Called
// first thing at start-up. Every Windows release the program runs on has the call.
void searchSystemFolderOnly();

// A DLL from System32 only, whatever the search settings; null when it cannot be loaded.
HMODULE loadFromSystem32(const wchar_t* name);

// GetProcAddress gives one generic function type; going through void (*)() converts it
// to the real signature without a cast between unrelated function types.
template <typename Function>
Function resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

using TransparentBltFunction = BOOL(WINAPI*)(HDC destination, int x, int y, int width, int height,
                                             HDC source, int sourceX, int sourceY, int sourceWidth,
                                             int sourceHeight, UINT transparentColour);

// Loads comctl32 (kept until releaseSystemLibraries) and registers the progress bar
// class. Without it the progress window cannot be created, which the update tolerates.
void initCommonControls();

// msimg32's TransparentBlt, loaded on first use; null when it is unavailable.
TransparentBltFunction transparentBlt();

// Frees what the two functions above loaded.
void releaseSystemLibraries();

}  // namespace esc
