#include "ui/win32/system_libraries.h"

#include <commctrl.h>

namespace esc {
namespace {

HMODULE commonControlsLibrary = nullptr;
HMODULE imageLibrary = nullptr;
bool imageLibraryTried = false;
TransparentBltFunction transparentBltEntry = nullptr;

}  // namespace

void searchSystemFolderOnly() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

HMODULE loadFromSystem32(const wchar_t* name) {
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void initCommonControls() {
  if (commonControlsLibrary == nullptr) {
    commonControlsLibrary = loadFromSystem32(L"comctl32.dll");
  }
  if (commonControlsLibrary == nullptr) {
    return;
  }
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = resolve<InitFunction>(commonControlsLibrary, "InitCommonControlsEx");
  if (init != nullptr) {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    init(&classes);
  }
}

TransparentBltFunction transparentBlt() {
  if (!imageLibraryTried) {
    imageLibraryTried = true;
    imageLibrary = loadFromSystem32(L"msimg32.dll");
    if (imageLibrary != nullptr) {
      transparentBltEntry = resolve<TransparentBltFunction>(imageLibrary, "TransparentBlt");
    }
  }
  return transparentBltEntry;
}

void releaseSystemLibraries() {
  transparentBltEntry = nullptr;
  imageLibraryTried = false;
  if (imageLibrary != nullptr) {
    FreeLibrary(imageLibrary);
    imageLibrary = nullptr;
  }
  if (commonControlsLibrary != nullptr) {
    FreeLibrary(commonControlsLibrary);
    commonControlsLibrary = nullptr;
  }
}

}  // namespace esc
