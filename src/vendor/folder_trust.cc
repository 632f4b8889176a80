#include "vendor/folder_trust.h"

#include <cstring>

#include "common/alloc.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kAclHeaderBytes = 8;
constexpr uint32_t kAceHeaderBytes = 4;
constexpr uint32_t kSidHeaderBytes = 8;
constexpr uint32_t kMaxSubAuthorities = 15;

// ACE types that grant (ACCESS_ALLOWED_ACE_TYPE, ..._OBJECT_, ..._CALLBACK_, ..._CALLBACK_
// OBJECT_); the object kinds carry a flags word and up to two GUIDs before the SID.
constexpr uint8_t kAllowed = 0x00;
constexpr uint8_t kAllowedObject = 0x05;
constexpr uint8_t kAllowedCallback = 0x09;
constexpr uint8_t kAllowedCallbackObject = 0x0B;
constexpr uint32_t kObjectTypePresent = 0x1;
constexpr uint32_t kInheritedObjectTypePresent = 0x2;
constexpr uint32_t kGuidBytes = 16;

// FILE_ADD_FILE / FILE_WRITE_DATA, FILE_ADD_SUBDIRECTORY / FILE_APPEND_DATA, WRITE_DAC,
// WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE, MAXIMUM_ALLOWED.
constexpr uint32_t kWriteRights =
    0x00000002 | 0x00000004 | 0x00040000 | 0x00080000 | 0x10000000 | 0x40000000 | 0x02000000;

// The trustees allowed to write: authority and sub-authorities of each SID.
struct KnownSid {
  uint8_t authority;
  uint8_t count;
  uint32_t sub[6];
};
constexpr KnownSid kTrusted[] = {
    {5, 1, {18}},                                                              // SYSTEM
    {5, 2, {32, 544}},                                                         // Administrators
    {5, 6, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464u}},  // TrustedInstaller
    {3, 1, {0}},                                                               // CREATOR OWNER
};

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Whether the SID at sid (within bytes) is one of the trusted trustees.
bool IsTrustedSid(const uint8_t* sid, uint32_t bytes) {
  if (bytes < kSidHeaderBytes || sid[0] != 1) return false;
  uint32_t count = sid[1];
  if (count > kMaxSubAuthorities || bytes < kSidHeaderBytes + 4 * count) return false;
  for (int i = 2; i < 7; ++i) {
    if (sid[i] != 0) return false;  // every known authority fits in the last byte
  }
  for (const KnownSid& known : kTrusted) {
    if (sid[7] != known.authority || count != known.count) continue;
    bool same = true;
    for (uint32_t i = 0; i < count && same; ++i) {
      same = Read32(sid + kSidHeaderBytes + 4 * i) == known.sub[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

bool AclGrantsWriteToOthers(const uint8_t* acl, uint32_t bytes) {
  if (bytes < kAclHeaderBytes) return true;
  uint32_t size = Read16(acl + 2);
  uint32_t count = Read16(acl + 4);
  if (size > bytes || size < kAclHeaderBytes) return true;
  uint32_t at = kAclHeaderBytes;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kAceHeaderBytes) return true;
    const uint8_t* ace = acl + at;
    uint32_t aceSize = Read16(ace + 2);
    if (aceSize < kAceHeaderBytes || aceSize > size - at) return true;
    at += aceSize;
    uint8_t type = ace[0];
    bool object = type == kAllowedObject || type == kAllowedCallbackObject;
    if (type != kAllowed && type != kAllowedCallback && !object) continue;
    uint32_t sidAt = 8;
    if (aceSize < sidAt) return true;
    if ((Read32(ace + 4) & kWriteRights) == 0) continue;
    if (object) {
      if (aceSize < 12) return true;
      uint32_t flags = Read32(ace + 8);
      sidAt = 12 + ((flags & kObjectTypePresent) != 0 ? kGuidBytes : 0) +
              ((flags & kInheritedObjectTypePresent) != 0 ? kGuidBytes : 0);
      if (aceSize < sidAt) return true;
    }
    if (!IsTrustedSid(ace + sidAt, aceSize - sidAt)) return true;
  }
  return false;
}

FolderTrust CheckFolderTrust(const char16_t* folder, uint32_t* status) {
  *status = 0;
  auto* dacl = static_cast<uint8_t*>(AllocateZeroed(platform::kMaxAclBytes));
  if (dacl == nullptr) {
    *status = platform::kErrorNotEnoughMemory;
    return FolderTrust::kUnreadable;
  }
  uint32_t daclBytes = 0;
  bool nullDacl = false;
  *status = platform::Os().files->GetNamedSecurityInfo(folder, dacl, platform::kMaxAclBytes,
                                                       &daclBytes, &nullDacl);
  FolderTrust trust = FolderTrust::kUnreadable;
  if (*status == 0) {
    bool writable =
        nullDacl || daclBytes > platform::kMaxAclBytes || AclGrantsWriteToOthers(dacl, daclBytes);
    trust = writable ? FolderTrust::kWritableByOthers : FolderTrust::kTrusted;
  }
  FreeBlock(dacl);
  return trust;
}

}  // namespace crv
