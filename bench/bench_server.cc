#include "bench_server.h"

#include <cstdio>
#include <cstdlib>

#include "common/alloc.h"
#include "common/process_state.h"
#include "platform/sim/scenario/scenario.h"

namespace crvbench {

namespace {
constexpr uint32_t kPollMs = 120000;
}

BenchServer::BenchServer(uint32_t managedInterfaces) : shape_(ShapeFor(managedInterfaces)) {
  crv::ResetProcessState();
  sim::Scenario scenario;
  std::string error;
  if (!sim::LoadScenario(GenerateServerScenario(managedInterfaces, kPollMs, 10 * kPollMs), machine_,
                         &scenario, &error)) {
    std::fprintf(stderr, "generated server of %u interfaces: %s\n", managedInterfaces,
                 error.c_str());
    std::abort();
  }
  machine_.Install();
  crv::State().pollInterval = kPollMs;
  trap_ = crv::NewObject<crv::CTrap>();
}

BenchServer::~BenchServer() {
  crv::DeleteObject(list_);
  crv::DeleteObject(trap_);
  crv::ResetProcessState();
}

void BenchServer::DropList() {
  crv::DeleteObject(list_);
  list_ = nullptr;
}

uint32_t BenchServer::BuildList() {
  trap_->BeginGeneration();
  list_ = crv::NewObject<crv::CIFList>();
  lastBuild_ = list_->Build(trap_);
  return lastBuild_;
}

std::string BenchServer::CheckModel() const {
  if (list_ == nullptr) return "no list built";
  if (lastBuild_ != 0) return "the build failed with " + std::to_string(lastBuild_);
  if (list_->AdapterCount() != shape_.managed) {
    return "the build modelled " + std::to_string(list_->AdapterCount()) + " of " +
           std::to_string(shape_.managed) + " managed interfaces";
  }
  return {};
}

}  // namespace crvbench
