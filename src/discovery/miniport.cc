// CMiniport: construction, Init, the copy operation and the address accessors.
#include "discovery/miniport.h"

#include <cstring>

#include "common/alloc.h"
#include "common/bounded_text.h"
#include "common/owned_text.h"
#include "common/report.h"
#include "common/text.h"
#include "platform/ndis.h"
#include "platform/os_access.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr size_t kDevicePrefixChars = 4;  // "\\.\"
constexpr uint32_t kMediumAnswerSize = 8;
constexpr uint32_t kAddressAnswerSize = 12;

void ReportAllocationFailure(const char16_t* message) {
  uint32_t error = LastError();
  Report(kReportAllocationFailed, nullptr, error);
  ReportInfo(message, error);
}

// A zero-filled buffer of sizeBytes (at least one character) holding a bounded copy of text.
char16_t* CopyIntoBuffer(const char16_t* text, size_t sizeBytes) {
  size_t chars = sizeBytes / sizeof(char16_t);
  if (chars == 0) chars = 1;
  auto* buffer = static_cast<char16_t*>(AllocateZeroed(chars * sizeof(char16_t)));
  if (buffer != nullptr) CopyBounded(buffer, chars, text);
  return buffer;
}

// The GUID part of a device name: everything after "\\.\".
const char16_t* GuidPart(const char16_t* deviceName) {
  size_t length = TextLength(deviceName);
  return deviceName + (length < kDevicePrefixChars ? length : kDevicePrefixChars);
}

}  // namespace

CMiniport::~CMiniport() {
  FreeBlock(deviceName_);
  FreeBlock(guid_);
}

uint32_t CMiniport::Init(const char16_t*, size_t, const char16_t* deviceName,
                         size_t deviceNameSize) {
  deviceNameSize_ = deviceNameSize;
  deviceName_ = CopyIntoBuffer(deviceName, deviceNameSize);
  if (deviceName_ == nullptr) {
    uint32_t error = LastError();
    ReportAllocationFailure(u"CMiniport::Init: failure to allocate device name");
    return error;
  }
  size_t guidSize = deviceNameSize > kDevicePrefixChars * sizeof(char16_t)
                        ? deviceNameSize - kDevicePrefixChars * sizeof(char16_t)
                        : sizeof(char16_t);
  guid_ = CopyIntoBuffer(GuidPart(deviceName_), guidSize);
  if (guid_ == nullptr) {
    uint32_t error = LastError();
    ReportAllocationFailure(u"CMiniport::Init: failure to allocate Guid");
    return error;
  }

  uint8_t answer[kMediumAnswerSize] = {};
  uint32_t returned = 0;
  bool controlFailed = false;
  uint32_t status =
      QueryDirect(platform::kOidGenMediaInUse, answer, sizeof answer, &returned, &controlFailed);
  if (status != 0) {
    uint32_t error = LastError();
    if (controlFailed) {
      NoteQueryFailure(platform::kOidGenMediaInUse, status);
    } else {
      ReportUnopenedDevice(error);
    }
    queryFailureSeen_ = 1;
    return error != 0 ? error : platform::kErrorInvalidData;
  }
  std::memcpy(&medium_, answer, sizeof medium_);
  if (medium_ == platform::kNdisMedium802_3 || medium_ == platform::kNdisMedium802_5) {
    ReadAddress(platform::kOid8023CurrentAddress, currentAddress_, &currentAddressLength_);
    ReadAddress(platform::kOid8023PermanentAddress, permanentAddress_, &permanentAddressLength_);
    return 0;
  }
  uint32_t error = LastError();
  return error != 0 ? error : platform::kErrorInvalidData;
}

// A device interface can be listed while its device cannot be opened (an adapter that is being
// removed, or a driver that has not yet created its device): the build goes on without it, and
// the administrator learns which one it was.
void CMiniport::ReportUnopenedDevice(uint32_t error) const {
  BoundedText<kUnopenedMessageChars> message;
  message.Add(u"CMiniport::Init: cannot open ").Add(deviceName_);
  ReportInfo(message.Text(), error);
}

void CMiniport::ReadAddress(uint32_t oid, uint8_t* address, uint32_t* length) {
  if (medium_ != platform::kNdisMedium802_3) return;
  uint8_t answer[kAddressAnswerSize] = {};
  uint32_t returned = 0;
  if (QueryInformation(oid, answer, sizeof answer, &returned) != 0) return;
  if (returned > kAddressBytes) returned = kAddressBytes;
  std::memcpy(address, answer, returned);
  *length = returned;
}

CMiniport& CMiniport::operator=(const CMiniport& other) {
  if (this == &other) return *this;
  medium_ = other.medium_;
  currentAddressLength_ = other.currentAddressLength_;
  permanentAddressLength_ = other.permanentAddressLength_;
  queryFailureSeen_ = other.queryFailureSeen_;
  connectStatusSupported_ = other.connectStatusSupported_;
  teamFlags_ = other.teamFlags_;
  teamIndex_ = other.teamIndex_;
  teamAttribute_ = other.teamAttribute_;
  interfaceIndex_ = other.interfaceIndex_;
  claimed_ = other.claimed_;
  driverFamily_ = other.driverFamily_;
  std::memcpy(currentAddress_, other.currentAddress_, sizeof currentAddress_);
  std::memcpy(permanentAddress_, other.permanentAddress_, sizeof permanentAddress_);
  pciId_ = other.pciId_;
  subsystemId_ = other.subsystemId_;

  FreeBlock(deviceName_);
  deviceName_ = nullptr;
  deviceNameSize_ = other.deviceNameSize_;
  if (other.deviceName_ != nullptr) {
    deviceName_ = CopyIntoBuffer(other.deviceName_, other.deviceNameSize_);
    if (deviceName_ == nullptr) {
      ReportAllocationFailure(u"CMiniport::operator=: failure to allocate device name");
    }
  }
  FreeBlock(guid_);
  guid_ = nullptr;
  if (other.guid_ != nullptr) {
    guid_ = DuplicateText(other.guid_);
    if (guid_ == nullptr)
      ReportAllocationFailure(u"CMiniport::operator=: failure to allocate Guid");
  }
  return *this;
}

bool CMiniport::GetCurrentAddress(uint8_t* buffer, uint32_t length) const {
  std::memcpy(buffer, currentAddress_, length < kAddressBytes ? length : kAddressBytes);
  return length >= currentAddressLength_;
}

bool CMiniport::GetPermanentAddress(uint8_t* buffer, uint32_t length) const {
  std::memcpy(buffer, permanentAddress_, length < kAddressBytes ? length : kAddressBytes);
  return length >= permanentAddressLength_;
}

bool CMiniport::MatchCurrentAddress(const uint8_t* address, uint32_t length) const {
  if (length == 0 || length != currentAddressLength_) return false;
  return std::memcmp(address, currentAddress_, length) == 0;
}

void CMiniport::SetPartNumber(const char16_t* text) {
  CopyBounded(partNumber_, kPartNumberChars, text);
}

void CMiniport::SetTeam(uint32_t flags, uint32_t index, uint32_t attribute) {
  teamFlags_ = flags;
  teamIndex_ = index;
  teamAttribute_ = attribute;
}

void CMiniport::Claim(uint32_t interfaceIndex) {
  claimed_ = 1;
  interfaceIndex_ = interfaceIndex;
}

}  // namespace crv
