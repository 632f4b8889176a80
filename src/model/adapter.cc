#include "model/adapter.h"

#include "common/alloc.h"
#include "common/report.h"
#include "discovery/miniport.h"
#include "platform/platform.h"

namespace crv {

CAdapter::~CAdapter() {
  DeleteObject(miniport_);
  FreeBlock(description_);
}

bool CAdapter::SetMiniport(const CMiniport& miniport) {
  DeleteObject(miniport_);
  miniport_ = NewObject<CMiniport>();
  if (miniport_ == nullptr) {
    uint32_t error = platform::Os().kernel->GetLastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CAdapter::SetMiniport: failure to create new CMiniport", error);
    return false;
  }
  *miniport_ = miniport;
  return true;
}

}  // namespace crv
