// Kernel32 and C runtime calls: named events, waits, threads, sleep, time, last error, the
// module's own file name.
#pragma once

#include "platform/types.h"

namespace platform {

using ThreadEntry = void (*)(void* argument);

class Kernel {
 public:
  virtual ~Kernel() = default;

  // CreateEventW with default security. Opening an existing named event succeeds and sets
  // the last error to kErrorAlreadyExists. Null on failure.
  virtual Handle CreateEvent(bool manualReset, bool initialState, const char16_t* name) = 0;
  virtual bool SetEvent(Handle event) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // WaitForMultipleObjects: kWaitObject0 + i, kWaitTimeout or kWaitFailed.
  virtual uint32_t WaitForMultipleObjects(uint32_t count, const Handle* handles, bool waitAll,
                                          uint32_t milliseconds) = 0;
  virtual uint32_t SleepEx(uint32_t milliseconds, bool alertable) = 0;
  virtual uint32_t GetCurrentThreadId() = 0;

  virtual void GetSystemTime(SystemTime* time) = 0;
  virtual bool SystemTimeToFileTime(const SystemTime* systemTime, FileTime* fileTime) = 0;
  virtual void GetSystemTimeAsFileTime(FileTime* fileTime) = 0;
  // GetTickCount64: milliseconds since the system started; never goes back when the clock is
  // set.
  virtual uint64_t GetTickCount64() = 0;

  // _beginthread: kBeginThreadFailed on failure (the reason in the last error).
  virtual uintptr_t BeginThread(ThreadEntry entry, uint32_t stackSize, void* argument) = 0;
  // _endthread: ends the calling thread.
  [[noreturn]] virtual void EndThread() = 0;

  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t error) = 0;

  // ExpandEnvironmentStringsW with the process's environment: the characters the expanded
  // text needs with its terminator (written only when they fit in size); 0 on failure.
  // A variable that is not set stays as it is written ("%NOSUCH%").
  virtual uint32_t ExpandEnvironmentStrings(const char16_t* text, char16_t* buffer,
                                            uint32_t size) = 0;
};

}  // namespace platform
