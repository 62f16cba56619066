#include "ui/win32/update_signals.h"

// shobjidl.h relies on the COM declarations of objbase.h.
#include <objbase.h>
#include <shobjidl.h>

#include "ui/win32/system_libraries.h"

namespace esc {
namespace {

// Written out so that no GUID library has to be linked.
constexpr CLSID TASKBAR_LIST_CLASS = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID TASKBAR_LIST3_INTERFACE = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};
constexpr ULONGLONG FULL_PROGRESS = 100;

using InitializeFunction = HRESULT(WINAPI*)(LPVOID reserved, DWORD model);
using CreateFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using UninitializeFunction = void(WINAPI*)();

// ole32 is loaded from System32 at the first update, like the other libraries the program
// does not import (system_libraries.h): a program that never updates never starts COM.
struct Taskbar {
  bool tried = false;
  HMODULE ole = nullptr;
  UninitializeFunction uninitialize = nullptr;
  ITaskbarList3* list = nullptr;
};

Taskbar taskbar;

void createTaskbarList() {
  taskbar.ole = loadFromSystem32(L"ole32.dll");
  if (taskbar.ole == nullptr) {
    return;
  }
  const auto initialize = resolve<InitializeFunction>(taskbar.ole, "CoInitializeEx");
  const auto create = resolve<CreateFunction>(taskbar.ole, "CoCreateInstance");
  const auto uninitialize = resolve<UninitializeFunction>(taskbar.ole, "CoUninitialize");
  if (initialize == nullptr || create == nullptr || uninitialize == nullptr ||
      FAILED(initialize(nullptr, COINIT_APARTMENTTHREADED))) {
    return;
  }
  taskbar.uninitialize = uninitialize;
  void* list = nullptr;
  if (FAILED(create(TASKBAR_LIST_CLASS, nullptr, CLSCTX_INPROC_SERVER, TASKBAR_LIST3_INTERFACE,
                    &list))) {
    return;
  }
  taskbar.list = static_cast<ITaskbarList3*>(list);
  if (FAILED(taskbar.list->HrInit())) {
    taskbar.list->Release();
    taskbar.list = nullptr;
  }
}

ITaskbarList3* taskbarList() {
  if (!taskbar.tried) {
    taskbar.tried = true;
    createTaskbarList();
  }
  return taskbar.list;
}

bool keepSystemAwake(void*, bool awake) {
  const EXECUTION_STATE state = awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS;
  return SetThreadExecutionState(state) != 0;
}

bool showTaskbarProgress(void*, HWND window, TaskbarProgress state, std::uint32_t position) {
  ITaskbarList3* const list = taskbarList();
  if (list == nullptr) {
    return false;
  }
  switch (state) {
    case TaskbarProgress::None:
      return SUCCEEDED(list->SetProgressState(window, TBPF_NOPROGRESS));
    case TaskbarProgress::Normal:
      return SUCCEEDED(list->SetProgressState(window, TBPF_NORMAL)) &&
             SUCCEEDED(list->SetProgressValue(window, position, FULL_PROGRESS));
    case TaskbarProgress::Error:
      return SUCCEEDED(list->SetProgressState(window, TBPF_ERROR));
  }
  return false;
}

bool showShutdownReason(void*, HWND window, const char16_t* reason) {
  return reason != nullptr
             ? ShutdownBlockReasonCreate(window, reinterpret_cast<const wchar_t*>(reason)) != FALSE
             : ShutdownBlockReasonDestroy(window) != FALSE;
}

const UpdateSignals WINDOWS_UPDATE_SIGNALS = {nullptr, keepSystemAwake, showTaskbarProgress,
                                              showShutdownReason};

}  // namespace

const UpdateSignals& windowsUpdateSignals() noexcept { return WINDOWS_UPDATE_SIGNALS; }

void releaseUpdateSignals() {
  if (taskbar.list != nullptr) {
    taskbar.list->Release();
  }
  if (taskbar.uninitialize != nullptr) {
    taskbar.uninitialize();
  }
  if (taskbar.ole != nullptr) {
    FreeLibrary(taskbar.ole);
  }
  taskbar = Taskbar{};
}

}  // namespace esc
