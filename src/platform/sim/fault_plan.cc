#include "platform/sim/fault_plan.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

FaultPlan::~FaultPlan() { ReleaseAbandoned(); }

void FaultPlan::FailCall(FaultCall call, uint32_t occurrence, uint32_t status) {
  rules_.push_back(Rule{call, occurrence, status});
}

bool FaultPlan::FailCall(std::string_view call, uint32_t occurrence, uint32_t status) {
  std::optional<FaultCall> named = FaultCallNamed(call);
  if (named) FailCall(*named, occurrence, status);
  return named.has_value();
}

std::optional<uint32_t> FaultPlan::Check(FaultCall call) {
  uint64_t occurrence = ++callCounts_[static_cast<size_t>(call)];
  for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
    if (rule->call != call) continue;
    if (rule->occurrence == 0) return rule->status;
    if (rule->occurrence == occurrence) {
      // A rule for one occurrence cannot match again; dropping it keeps the check short on
      // long runs that keep adding faults.
      uint32_t status = rule->status;
      rules_.erase(rule);
      return status;
    }
  }
  return std::nullopt;
}

bool FaultPlan::BlockCall(std::string_view call, uint32_t occurrence, uint64_t fromMs,
                          uint64_t blockMs) {
  std::optional<FaultCall> named = FaultCallNamed(call);
  if (named) blockRules_.push_back(BlockRule{*named, occurrence, fromMs, blockMs});
  return named.has_value();
}

uint64_t FaultPlan::TakeBlock(FaultCall call, uint64_t nowMs) {
  const uint64_t occurrence = CallCount(call);
  for (auto rule = blockRules_.begin(); rule != blockRules_.end(); ++rule) {
    if (rule->call != call) continue;
    bool due = rule->occurrence != 0 ? rule->occurrence == occurrence : nowMs >= rule->fromMs;
    if (!due) continue;
    uint64_t blockMs = rule->blockMs;
    blockRules_.erase(rule);
    return blockMs;
  }
  return 0;
}

uint64_t FaultPlan::CallCount(std::string_view call) const {
  std::optional<FaultCall> named = FaultCallNamed(call);
  return named ? CallCount(*named) : 0;
}

void* FaultPlan::Allocate(size_t size) {
  ++allocationCount_;
  if (size > largestAllocationAsked_) largestAllocationAsked_ = size;
  if (failAllocationAt_ != 0 && allocationCount_ == failAllocationAt_) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) liveBlocks_[block] = size;
  return block;
}

void FaultPlan::Free(void* block) {
  if (liveBlocks_.erase(block) == 0) {
    std::fprintf(stderr, "simulated server: free of a block the heap does not hold\n");
    std::abort();
  }
  std::free(block);
}

void FaultPlan::ReleaseAbandoned() {
  for (auto& [block, size] : liveBlocks_) std::free(block);
  liveBlocks_.clear();
}

}  // namespace sim
