// The agent's service object: reads the poll interval, creates the three named events and
// the command queue, starts the data collection thread, then parks the calling thread.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "service/dc_struct.h"
#include "service/msg_queue.h"
#include "service/nt_service.h"

namespace crv {

inline constexpr char16_t kServiceName[] = u"CRVNicMgmt";
inline constexpr char16_t kServiceDisplayName[] = u"Corvane NIC Management Agents";
inline constexpr char16_t kParametersKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
inline constexpr char16_t kTimeoutValueName[] = u"Timeout";
inline constexpr char16_t kScmEventName[] = u"CrvMNicSCMEvent";
inline constexpr char16_t kInitEventName[] = u"CrvMNicInitEvent";
inline constexpr char16_t kCommandDoneEventName[] = u"CrvMNicCmdDoneEvent";

constexpr uint32_t kDefaultPollInterval = 120000;  // ms, when Timeout cannot be read

// Reads a REG_DWORD setting under the parameters key into *value (a value of another type
// reads as 0); false when the key or the value cannot be read. report: whether a failure
// is reported.
bool ReadParameterDword(const char16_t* valueName, uint32_t* value, bool report);

class CMNicService : public CNtService {
 public:
  // Expects zero-filled storage, as every object of the agent.
  CMNicService();
  // Closes the events that were created, destroys the queue and frees the shared structure.
  // Only reached when no collection thread runs.
  ~CMNicService() override;

  // Queue, shared structure (with the events), collection thread, in that order; false at
  // the first step that fails, leaving what was made to the destructor.
  bool Initialize() override;
  // Reads one character of standard input, then watches the collection thread for good
  // (collection_watchdog.h). Comes back only when a pass has stalled and the agent is to end
  // for it (CollectionStalled), which it is not when run with -runasexe: then each stalled
  // pass is reported once and the agent goes on.
  void RunAsExe() override;
  // Whether RunAsExe came back for a stalled collection pass.
  bool CollectionStalled() const { return stalled_; }
  // With -runasexe a stalled pass does not end the agent.
  void KeepRunningOnStall() { keepRunningOnStall_ = true; }
  // Fills *shared for the collection thread; false after reporting what failed.
  virtual bool CreateDCStruct(DCStruct** shared);

  CMsgQueue* Queue() const { return queue_; }
  platform::Handle ScmEvent() const { return scmEvent_; }
  platform::Handle InitEvent() const { return initEvent_; }
  platform::Handle CommandDoneEvent() const { return commandDoneEvent_; }
  const DCStruct* Shared() const { return shared_; }

 private:
  CMsgQueue* queue_ = nullptr;
  platform::Handle scmEvent_ = nullptr;
  platform::Handle initEvent_ = nullptr;
  platform::Handle commandDoneEvent_ = nullptr;
  uint32_t command_ = 0;
  DCStruct* shared_ = nullptr;
  bool stalled_ = false;
  bool keepRunningOnStall_ = false;
};

}  // namespace crv
