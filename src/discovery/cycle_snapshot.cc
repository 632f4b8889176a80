#include "discovery/cycle_snapshot.h"

#include <cstring>

#include "common/alloc.h"
#include "common/text.h"
#include "platform/platform.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

constexpr uint32_t kAdapterAddressesFirstSize = 448;
constexpr uint32_t kInstanceIdChars = 260;
constexpr uint32_t kFirstPoolChars = 4096;
const char16_t kNetworkClassKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

}  // namespace

bool AdapterNameEquals(const char* adapterName, const char16_t* name) {
  if (adapterName == nullptr) return false;
  char16_t wide[64];
  size_t n = 0;
  for (; n + 1 < sizeof wide / sizeof wide[0] && adapterName[n] != 0; ++n) {
    wide[n] = static_cast<unsigned char>(adapterName[n]);
  }
  wide[n] = 0;
  return adapterName[n] == 0 && EqualsNoCase(wide, name);
}

platform::IpAdapterAddresses* ReadIpv6AdapterAddresses() {
  platform::IpHelper& ipHelper = *platform::Os().ipHelper;
  uint32_t size = kAdapterAddressesFirstSize;
  auto* addresses = static_cast<platform::IpAdapterAddresses*>(AllocateZeroed(size));
  if (addresses == nullptr) return nullptr;
  uint32_t status = ipHelper.GetAdaptersAddresses(platform::kAfInet6, 0, addresses, &size);
  if (status == platform::kErrorBufferOverflow) {
    FreeBlock(addresses);
    addresses = static_cast<platform::IpAdapterAddresses*>(AllocateZeroed(size));
    if (addresses == nullptr) return nullptr;
    status = ipHelper.GetAdaptersAddresses(platform::kAfInet6, 0, addresses, &size);
  }
  if (status != 0) {
    FreeBlock(addresses);
    return nullptr;
  }
  return addresses;
}

CycleSnapshot::~CycleSnapshot() {
  FreeBlock(addresses_);
  DeleteObject(classKey_);
  FreeBlock(pool_);
}

bool CycleSnapshot::ReadAdapterAddresses() {
  addresses_ = ReadIpv6AdapterAddresses();
  if (addresses_ == nullptr) return false;
  addressesByName_.Start();
  for (auto* a = addresses_; a != nullptr; a = a->Next) {
    if (a->AdapterName == nullptr) continue;
    if (!addressesByName_.Add(HashFoldedText(a->AdapterName, SIZE_MAX), a)) break;
  }
  return true;
}

uint32_t CycleSnapshot::Keep(const char16_t* text) {
  uint32_t length = static_cast<uint32_t>(TextLength(text)) + 1;
  if (poolUsed_ + length > poolSize_) {
    uint32_t size = poolSize_ == 0 ? kFirstPoolChars : poolSize_ * 2;
    while (size < poolUsed_ + length) size *= 2;
    auto* pool = static_cast<char16_t*>(AllocateZeroed(size * sizeof(char16_t)));
    if (pool == nullptr) return ListIndex::kNone;
    if (poolUsed_ != 0) std::memcpy(pool, pool_, poolUsed_ * sizeof(char16_t));
    FreeBlock(pool_);
    pool_ = pool;
    poolSize_ = size;
  }
  uint32_t offset = poolUsed_;
  std::memcpy(pool_ + offset, text, length * sizeof(char16_t));
  poolUsed_ += length;
  return offset;
}

// Every subkey of the class key with its NetCfgInstanceID, read as the search of one port
// reads them, but to the end and without reports. Any failure gives the snapshot up.
bool CycleSnapshot::ReadClassKey() {
  classKey_ = NewObject<CRegistryKey>(RootKey().Open(kNetworkClassKey, platform::kKeyRead, false));
  if (classKey_ == nullptr || classKey_->LastError() != 0) return false;
  subkeysByInstanceId_.Start();
  if (!subkeysByInstanceId_.Usable()) return false;
  for (;;) {
    int32_t status = classKey_->EnumNextSubKey().LastError();
    if (status == static_cast<int32_t>(platform::kErrorNoMoreItems)) return true;
    if (status == static_cast<int32_t>(platform::kErrorMoreData)) continue;  // as the search
    if (status != 0) return false;
    CRegistryKey subkey = classKey_->Open(classKey_->EnumName(), platform::kKeyRead, false);
    if (subkey.LastError() != 0) return false;
    char16_t instanceId[kInstanceIdChars] = {};
    subkey.QueryString(u"NetCfgInstanceID", instanceId, sizeof instanceId, false);
    uint32_t name = Keep(classKey_->EnumName());
    if (name == ListIndex::kNone || Keep(instanceId) == ListIndex::kNone) return false;
    // Offsets are filed one up, so that no value is null.
    void* value = reinterpret_cast<void*>(static_cast<uintptr_t>(name) + 1);
    if (!subkeysByInstanceId_.Add(HashFoldedText(instanceId), value)) return false;
  }
}

bool CycleSnapshot::OpenClassSubkey(const char16_t* guid, bool* found, CRegistryKey** subkey) {
  *found = false;
  *subkey = nullptr;
  if (classKeyRead_ == Read::kNotYet) {
    classKeyRead_ = ReadClassKey() ? Read::kDone : Read::kFailed;
    if (classKeyRead_ == Read::kFailed) subkeysByInstanceId_.Release();
  }
  if (classKeyRead_ != Read::kDone) return false;
  if (guid == nullptr) return true;  // no subkey has it
  for (uint32_t e = subkeysByInstanceId_.First(HashFoldedText(guid)); e != ListIndex::kNone;
       e = subkeysByInstanceId_.Next(e)) {
    uint32_t offset =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(subkeysByInstanceId_.Value(e)) - 1);
    const char16_t* name = Text(offset);
    const char16_t* instanceId = name + TextLength(name) + 1;
    if (!EqualsNoCase(instanceId, guid)) continue;
    *found = true;
    *subkey = NewObject<CRegistryKey>(classKey_->Open(name, platform::kKeyRead, false));
    if (*subkey != nullptr && (*subkey)->LastError() == 0) return true;
    DeleteObject(*subkey);
    *subkey = nullptr;
    return false;
  }
  return true;
}

}  // namespace crv
