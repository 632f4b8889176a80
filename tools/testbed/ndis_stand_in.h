// The stand-in NDIS driver of the test machine (docs/testbed.md). Its kernel side (the devices
// and their control requests, ndis_driver.c) is C, built against the driver kit's headers,
// which do not build as C++; it reaches the rest through the C calls at the end. The user side
// (Wine's interface table and the Linux interface behind each adapter) is built against
// windows.h. Neither side's headers are included here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
namespace ndis_stand_in {

constexpr size_t kGuidChars = 39;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and a terminator
constexpr size_t kLinuxNameChars = 64;
constexpr size_t kAddressBytes = 32;
constexpr size_t kMaxAdapters = 64;

// One interface of Wine's interface table, as the stand-in found it when it started.
struct Adapter {
  wchar_t guid[kGuidChars];
  wchar_t linuxName[kLinuxNameChars];  // Wine describes an interface by its Linux name
  uint8_t currentAddress[kAddressBytes];
  uint8_t permanentAddress[kAddressBytes];
  uint32_t addressLength;
  uint32_t medium;  // NDIS_MEDIUM, as Wine's table gives it
  uint32_t interfaceIndex;
};

// Fills at most capacity adapters from Wine's interface table; the number filled.
size_t ListAdapters(Adapter* adapters, size_t capacity);
// Leaves the key Wine's ndis.sys leaves for each card it makes a device for.
void AddCardKey(const Adapter& adapter);
// Whether devices are to be made for interfaces that appear after the start: the REG_DWORD
// WatchInterfaces = 1 under HKLM\SYSTEM\CurrentControlSet\Services\NDIS\Parameters.
bool WatchingInterfaces();

// What Linux says of the interface now, read from /sys/class/net/<name>/ through Wine's Z:
// drive at each query.
enum class Duplex : uint32_t { kUnknown = 0, kHalf = 1, kFull = 2 };  // NET_IF_MEDIA_DUPLEX_STATE
struct LinkFacts {
  bool connected;              // carrier 1; an interface that is down has none
  uint64_t megabitsPerSecond;  // 0 when Linux does not know it
  Duplex duplex;
};
LinkFacts ReadLinkFacts(const wchar_t* linuxName);
// One file of /sys/class/net/<name>/statistics/; false when it cannot be read.
bool ReadStatistic(const wchar_t* linuxName, const char* counter, uint64_t* value);

// The answer to one IOCTL_NDIS_QUERY_GLOBAL_STATS request, as a miniport gives it to NDIS.
enum class QueryStatus {
  kSuccess,
  kBufferTooSmall,  // NDIS_STATUS_INVALID_LENGTH / BUFFER_TOO_SHORT: nothing written
  kNotSupported,    // NDIS_STATUS_INVALID_OID / NOT_SUPPORTED
};
QueryStatus Answer(const Adapter& adapter, uint32_t oid, void* output, uint32_t outputSize,
                   uint32_t* written);

}  // namespace ndis_stand_in
extern "C" {
#endif

// The kernel side's calls. StandInAddNewAdapters reads Wine's table, adds the interfaces not
// yet known after those known, and answers the number of adapters; each is named by its
// position, which never changes. Called by one thread at a time.
size_t StandInAddNewAdapters(void);
int StandInWatchingInterfaces(void);
const wchar_t* StandInAdapterGuid(size_t adapter);
// QueryStatus as a number: 0 success, 1 buffer too small, 2 not supported.
int StandInAnswer(size_t adapter, uint32_t oid, void* output, uint32_t outputSize,
                  uint32_t* written);
// Reads at most size bytes of the file at the NT path; the number read, 0 on any failure.
size_t StandInReadFile(const wchar_t* ntPath, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif
