// kernel32 and the C runtime's thread calls.
#include <process.h>

#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32Kernel final : public Kernel {
 public:
  Handle CreateEvent(bool manualReset, bool initialState, const char16_t* name) override {
    return FromSdk(CreateEventW(nullptr, manualReset, initialState, Wide(name)));
  }

  bool SetEvent(Handle event) override { return ::SetEvent(ToSdk(event)); }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(ToSdk(handle)); }

  uint32_t WaitForMultipleObjects(uint32_t count, const Handle* handles, bool waitAll,
                                  uint32_t milliseconds) override {
    HANDLE objects[MAXIMUM_WAIT_OBJECTS];
    if (count > MAXIMUM_WAIT_OBJECTS) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    for (uint32_t i = 0; i < count; ++i) objects[i] = ToSdk(handles[i]);
    return ::WaitForMultipleObjects(count, objects, waitAll, milliseconds);
  }

  uint32_t SleepEx(uint32_t milliseconds, bool alertable) override {
    return ::SleepEx(milliseconds, alertable);
  }

  uint32_t GetCurrentThreadId() override { return ::GetCurrentThreadId(); }

  void GetSystemTime(SystemTime* time) override {
    ::GetSystemTime(reinterpret_cast<SYSTEMTIME*>(time));
  }

  bool SystemTimeToFileTime(const SystemTime* systemTime, FileTime* fileTime) override {
    return ::SystemTimeToFileTime(reinterpret_cast<const SYSTEMTIME*>(systemTime),
                                  reinterpret_cast<FILETIME*>(fileTime));
  }

  void GetSystemTimeAsFileTime(FileTime* fileTime) override {
    ::GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(fileTime));
  }

  uint64_t GetTickCount64() override { return ::GetTickCount64(); }

  uintptr_t BeginThread(ThreadEntry entry, uint32_t stackSize, void* argument) override {
    return _beginthread(entry, stackSize, argument);
  }

  [[noreturn]] void EndThread() override {
    _endthread();
    __builtin_unreachable();
  }

  uint32_t GetLastError() override { return ::GetLastError(); }

  void SetLastError(uint32_t error) override { ::SetLastError(error); }

  // A path that does not fit comes back cut to size - 1 characters and terminated, with
  // ERROR_INSUFFICIENT_BUFFER, as Windows since Vista does it. Wine (and Windows XP) fill the
  // whole buffer without a terminator; that case is brought to the same result.
  uint32_t ExpandEnvironmentStrings(const char16_t* text, char16_t* buffer,
                                    uint32_t size) override {
    return ExpandEnvironmentStringsW(Wide(text), Wide(buffer), size);
  }
};

}  // namespace

Kernel& KernelBackend() {
  static Win32Kernel kernel;
  return kernel;
}

}  // namespace platform::win32
