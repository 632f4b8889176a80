// CMiniport's link data: the link status query and the procedure of each driver family
// that finds link status and duplex.
#include <cstring>

#include "common/report.h"
#include "discovery/miniport.h"
#include "platform/ndis.h"
#include "vendor/vendor_libraries.h"

namespace crv {
namespace {

constexpr uint32_t kLinkSpeedUnitsPerMegabit = 10000;  // the OID answers in 100 bit/s
constexpr uint32_t kCountersLinkSize = 128;
constexpr uint32_t kCountersLinkOffset = 16;
constexpr uint32_t kCountersDuplexSize = 48;
constexpr uint32_t kCountersDuplexOffset = 12;
// OID_GEN_MEDIA_DUPLEX_STATE and NDIS_LINK_STATE's MediaDuplexState.
constexpr uint32_t kMediaDuplexHalf = 1;
constexpr uint32_t kMediaDuplexFull = 2;

uint32_t ReadWord(const uint8_t* bytes, size_t offset) {
  uint32_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// Duplex code of a media duplex state; unknown for anything but half and full.
uint32_t DuplexOfMediaState(uint32_t state) {
  if (state == kMediaDuplexHalf) return kDuplexHalf;
  if (state == kMediaDuplexFull) return kDuplexFull;
  return kDuplexUnknown;
}

}  // namespace

uint32_t CMiniport::GetLinkStatus(uint32_t* linkStatus) {
  *linkStatus = kLinkUnknown;
  if (connectStatusSupported_ == 0) return 0;
  uint8_t answer[8] = {};
  uint32_t returned = 0;
  uint32_t status =
      QueryInformation(platform::kOidGenMediaConnectStatus, answer, sizeof answer, &returned);
  if (status != 0) {
    // A driver that rejects the query once is not asked again.
    connectStatusSupported_ = 0;
    return status;
  }
  *linkStatus = ReadWord(answer, 0) != platform::kNdisMediaStateConnected ? kLinkFailure : kLinkOk;
  return 0;
}

uint32_t CMiniport::GetDynamicData(LinkInformation* info) {
  uint8_t speed[8] = {};
  uint32_t returned = 0;
  // A failed speed query leaves the speed 0 and is no failure of the link data.
  QueryInformation(platform::kOidGenLinkSpeed, speed, sizeof speed, &returned);
  info->speed = ReadWord(speed, 0) / kLinkSpeedUnitsPerMegabit;
  // Every procedure leaves the duplex unknown unless its driver or library answers it.
  info->linkStatus = kLinkUnknown;
  info->duplex = kDuplexUnknown;

  uint32_t status = 0;
  switch (driverFamily_) {
    case 1:
    case 2:
    case 3:
      status = LinkStatusOnly(info);
      break;
    case 4:
      status = PrivateCounters(info);
      break;
    case 5:
    case 6:
    case 7:
    case 8:
    case 13:
    case 14:
      status = PrivateDuplexElseLinkState(info);
      break;
    case 9:
      status = GetQ57W2KDynamicData(info);
      if (status != 0) status = GetQ579XXDynamicData(info);
      break;
    case 10:
      status = VendorDuplex(info);
      break;
    case 11:
    case 12:
    case 15:
      status = FullDuplexWhenLinked(info);
      break;
    case 16:
      status = GetQ579XXDynamicData(info);
      break;
    default:  // unclassified, the Solarflare family and unknown codes: nothing to ask
      break;
  }
  if (info->linkStatus == kLinkFailure) info->duplex = kDuplexUnknown;
  return status;
}

uint32_t CMiniport::LinkStatusOnly(LinkInformation* info) {
  return GetLinkStatus(&info->linkStatus);
}

uint32_t CMiniport::PrivateCounters(LinkInformation* info) {
  uint8_t link[kCountersLinkSize] = {};
  uint32_t returned = 0;
  uint32_t status = QueryInformation(kOidCountersLink, link, sizeof link, &returned);
  if (status != 0) return status;
  uint8_t duplex[kCountersDuplexSize] = {};
  status = QueryInformation(kOidCountersDuplex, duplex, sizeof duplex, &returned);
  if (status != 0) return status;
  info->linkStatus = ReadWord(link, kCountersLinkOffset) == 0 ? kLinkOk : kLinkFailure;
  info->duplex = ReadWord(duplex, kCountersDuplexOffset) + 2;
  return 0;
}

uint32_t CMiniport::PrivateDuplexElseLinkState(LinkInformation* info) {
  uint32_t status = GetLinkStatus(&info->linkStatus);
  if (status != 0) return status;
  uint8_t answer[8] = {};
  uint32_t returned = 0;
  if (QueryPrivateInformation(kOidPrivateDuplex, answer, sizeof answer, &returned) == 0) {
    info->duplex = ReadWord(answer, 0) + 1;
    return 0;
  }
  // The link state answer carries the duplex too; its failure stays unreported.
  platform::NdisLinkState state = {};
  bool controlFailed = false;
  if (QueryDirect(platform::kOidGenLinkState, &state, sizeof state, &returned, &controlFailed) ==
      0) {
    info->duplex = DuplexOfMediaState(state.mediaDuplexState);
  }
  return 0;
}

uint32_t CMiniport::VendorDuplex(LinkInformation* info) {
  uint32_t status = GetLinkStatus(&info->linkStatus);
  if (status != 0) return status;
  uint8_t answer[8] = {};
  uint32_t returned = 0;
  if (QueryInformation(kOidVendorDuplex, answer, sizeof answer, &returned) == 0) {
    info->duplex = ReadWord(answer, 0) + 2;
  }
  return 0;
}

uint32_t CMiniport::FullDuplexWhenLinked(LinkInformation* info) {
  uint32_t status = GetLinkStatus(&info->linkStatus);
  if (status != 0) return status;
  info->duplex = info->linkStatus == kLinkOk ? kDuplexFull : kDuplexUnknown;
  return 0;
}

bool CMiniport::QueryMediaDuplexState(LinkInformation* info) {
  uint32_t state = 0;
  uint32_t returned = 0;
  if (QueryInformation(platform::kOidGenMediaDuplexState, &state, sizeof state, &returned) != 0)
    return false;
  // Other answers leave the duplex as it is.
  if (state == kMediaDuplexHalf) info->duplex = kDuplexHalf;
  if (state == kMediaDuplexFull) info->duplex = kDuplexFull;
  return true;
}

uint32_t CMiniport::GetQ57W2KDynamicData(LinkInformation* info) {
  uint32_t status = GetLinkStatus(&info->linkStatus);
  if (status != 0) return status;
  if (QueryMediaDuplexState(info)) return 0;

  if (InitializeBMAPI() != 0 && BmapiGetHandleByServiceNameAvailable() &&
      BmapiGetBRCMNicInfoAvailable()) {
    uint32_t handle = 0;
    uint32_t error = BmapiGetHandleByServiceName(guid_, &handle);
    if (error != 0) {
      ReportInfo(u"BmapiGetHandleByServiceName failed", error);
    } else {
      uint8_t nicInfo[kBmapiNicInfoSize] = {};
      error = BmapiGetBRCMNicInfo(handle, nicInfo);
      if (error != 0) {
        ReportInfo(u"BmapiGetBRCMNicInfo failed", error);
      } else {
        info->duplex = ReadWord(nicInfo, kBmapiNicInfoDuplexOffset) + 1;
      }
    }
  } else {
    ReportInfo(u"Bmapi Failed @GetQ57W2KDynamicData", 0);
  }
  UnInitializeBMAPI(0);
  return 0;
}

uint32_t CMiniport::GetQ579XXDynamicData(LinkInformation* info) {
  uint32_t status = GetLinkStatus(&info->linkStatus);
  if (status != 0) return status;
  if (QueryMediaDuplexState(info)) return 0;

  if (InitializeQMAPI() != 0 && QLmapiGetHandleByServiceNameAvailable() &&
      QLmapiRetrieveLinkStatusAvailable()) {
    uint32_t handle = 0;
    uint32_t error = QLmapiGetHandleByServiceName(guid_, &handle);
    if (error != 0) {
      ReportInfo(u"QLmapiGetHandleByServiceName failed", error);
    } else {
      uint8_t linkStatus[kQLmapiLinkStatusSize] = {};
      error = QLmapiRetrieveLinkStatus(handle, linkStatus);
      if (error != 0) {
        ReportInfo(u"QLmapiRetrieveLinkStatus failed", error);
      } else {
        info->duplex = ReadWord(linkStatus, kQLmapiLinkStatusDuplexOffset) + 2;
      }
    }
  } else {
    ReportInfo(u"Qmapi Failed @GetQ579XXDynamicData", 0);
  }
  UnInitializeQMAPI(0);
  return 0;
}

}  // namespace crv
