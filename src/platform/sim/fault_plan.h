// The simulated server's fault plan: which calls fail (by occurrence), which block their caller
// (by occurrence or virtual time), how often each call was made, and
// the heap the agent allocates from, with its refused allocations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/fault_calls.h"

namespace sim {

class FaultPlan {
 public:
  FaultPlan() = default;
  ~FaultPlan();
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // Makes the occurrence-th call (1-based) fail with status; with occurrence 0 every call
  // fails.
  void FailCall(FaultCall call, uint32_t occurrence, uint32_t status);
  // The same by the call's name: false, and nothing planned, for a name not in the fault table
  // (fault_calls.h), since no call would ever check it.
  [[nodiscard]] bool FailCall(std::string_view call, uint32_t occurrence, uint32_t status);
  // Counts a call and answers whether it must fail (and with which status).
  std::optional<uint32_t> Check(FaultCall call);
  uint64_t CallCount(FaultCall call) const { return callCounts_[static_cast<size_t>(call)]; }
  // By name: 0 for a name not in the table.
  uint64_t CallCount(std::string_view call) const;

  static constexpr uint64_t kBlockForever = UINT64_MAX;
  // Makes one call of a name block its caller before it answers, for blockMs of virtual time
  // or kBlockForever: the occurrence-th call (1-based) or, with occurrence 0, the first call
  // made at or after fromMs. False, and nothing planned, for a name not in the fault table.
  [[nodiscard]] bool BlockCall(std::string_view call, uint32_t occurrence, uint64_t fromMs,
                               uint64_t blockMs);
  // For the call Check has just counted: how long it blocks (0: not at all). A rule that
  // matches is used up.
  uint64_t TakeBlock(FaultCall call, uint64_t nowMs);

  // Makes the n-th allocation (1-based, counted from now) fail.
  void FailAllocation(uint64_t n) { failAllocationAt_ = allocationCount_ + n; }
  // A block of the agent's heap; null when this allocation is planned to fail or the host's
  // heap refuses it.
  void* Allocate(size_t size);
  // Frees a block; a block the heap does not hold ends the program.
  void Free(void* block);
  uint64_t AllocationCount() const { return allocationCount_; }
  uint64_t LiveAllocations() const { return liveBlocks_.size(); }
  // The largest block the agent has asked for, granted or not.
  size_t LargestAllocationAsked() const { return largestAllocationAsked_; }
  // Frees every block the agent allocated and did not free (after a process ended).
  void ReleaseAbandoned();

 private:
  struct Rule {
    FaultCall call;
    uint32_t occurrence;
    uint32_t status;
  };
  struct BlockRule {
    FaultCall call;
    uint32_t occurrence;
    uint64_t fromMs;
    uint64_t blockMs;
  };
  std::vector<Rule> rules_;
  std::vector<BlockRule> blockRules_;
  std::array<uint64_t, kFaultCallCount> callCounts_{};
  uint64_t allocationCount_ = 0;
  uint64_t failAllocationAt_ = 0;
  size_t largestAllocationAsked_ = 0;
  std::map<void*, size_t> liveBlocks_;
};

}  // namespace sim
