// Portable stand-ins for the Windows types and constants the agent passes through the
// platform seam. Values are the SDK's, so a status seen in a test is the one Windows gives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Opaque handles. Each kind is its own pointer type so that a registry key can never be
// passed where an event is expected.
struct RegKeyTag;
struct ScHandleTag;
struct HandleTag;
struct DeviceHandleTag;
struct FileHandleTag;
using RegKey = RegKeyTag*;              // HKEY
using ScHandle = ScHandleTag*;          // SC_HANDLE
using Handle = HandleTag*;              // kernel object HANDLE (events)
using DeviceHandle = DeviceHandleTag*;  // HANDLE of a device opened with CreateFileW
using FileHandle = FileHandleTag*;      // HANDLE of a file opened with CreateFileW

// INVALID_HANDLE_VALUE: CreateFileW's answer when the device cannot be opened (a device
// handle's failure value is not null, unlike the other handles').
inline const DeviceHandle kInvalidHandleValue = reinterpret_cast<DeviceHandle>(~uintptr_t{0});
inline const FileHandle kInvalidFileHandle = reinterpret_cast<FileHandle>(~uintptr_t{0});

// HKEY_LOCAL_MACHINE: (HKEY)(ULONG_PTR)(LONG)0x80000002, sign-extended as on x64 Windows.
inline const RegKey kHkeyLocalMachine =
    reinterpret_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));

struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;
};

struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// SC_ACTION: what the service control manager does after the service failed (type) and how
// long it waits first (milliseconds).
struct ScAction {
  uint32_t type = 0;
  uint32_t delayMs = 0;
};

struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// A GUID as text in braces, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", with its terminator
// (CHARS_IN_GUID).
constexpr size_t kGuidTextChars = 39;

// Win32 error codes: every one the agent sets, passes on or tells apart.
constexpr uint32_t kErrorSuccess = 0;                            // ERROR_SUCCESS
constexpr uint32_t kErrorFileNotFound = 2;                       // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrorAccessDenied = 5;                       // ERROR_ACCESS_DENIED
constexpr uint32_t kErrorInvalidHandle = 6;                      // ERROR_INVALID_HANDLE
constexpr uint32_t kErrorNotEnoughMemory = 8;                    // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kErrorInvalidData = 13;                       // ERROR_INVALID_DATA
constexpr uint32_t kErrorGenFailure = 31;                        // ERROR_GEN_FAILURE
constexpr uint32_t kErrorNotSupported = 50;                      // ERROR_NOT_SUPPORTED
constexpr uint32_t kErrorInvalidParameter = 87;                  // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrorBufferOverflow = 111;                   // ERROR_BUFFER_OVERFLOW
constexpr uint32_t kErrorInsufficientBuffer = 122;               // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kErrorModNotFound = 126;                      // ERROR_MOD_NOT_FOUND
constexpr uint32_t kErrorProcNotFound = 127;                     // ERROR_PROC_NOT_FOUND
constexpr uint32_t kErrorAlreadyExists = 183;                    // ERROR_ALREADY_EXISTS
constexpr uint32_t kErrorNoData = 232;                           // ERROR_NO_DATA
constexpr uint32_t kErrorMoreData = 234;                         // ERROR_MORE_DATA
constexpr uint32_t kErrorNoMoreItems = 259;                      // ERROR_NO_MORE_ITEMS
constexpr uint32_t kErrorKeyDeleted = 1018;                      // ERROR_KEY_DELETED
constexpr uint32_t kErrorChildMustBeVolatile = 1021;             // ERROR_CHILD_MUST_BE_VOLATILE
constexpr uint32_t kErrorServiceDoesNotExist = 1060;             // ERROR_SERVICE_DOES_NOT_EXIST
constexpr uint32_t kErrorServiceNotActive = 1062;                // ERROR_SERVICE_NOT_ACTIVE
constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;  // ..._CONTROLLER_CONNECT
constexpr uint32_t kErrorServiceMarkedForDelete = 1072;          // ERROR_SERVICE_MARKED_FOR_DELETE
constexpr uint32_t kErrorServiceExists = 1073;                   // ERROR_SERVICE_EXISTS

// Waits.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kMaximumWaitObjects = 64;

// Registry value types, access rights, options and dispositions.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kRegOptionNonVolatile = 0;
constexpr uint32_t kRegOptionVolatile = 1;
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;
constexpr uint32_t kMaxKeyNameLength = 255;  // characters, without the terminator

// Service control manager.
constexpr uint32_t kScManagerConnect = 0x0001;
constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceQueryConfig = 0x0001;
constexpr uint32_t kServiceChangeConfig = 0x0002;
constexpr uint32_t kServiceQueryStatus = 0x0004;
constexpr uint32_t kServiceStart = 0x0010;
constexpr uint32_t kServiceStop = 0x0020;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kScActionNone = 0;     // SC_ACTION_NONE
constexpr uint32_t kScActionRestart = 1;  // SC_ACTION_RESTART

// _beginthread's failure result.
constexpr uintptr_t kBeginThreadFailed = ~uintptr_t{0};

}  // namespace platform
