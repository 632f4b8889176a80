// A generated server loaded into a simulated machine and installed as the platform, with
// the collection pieces the agent's loop drives: the trap sink and one interface list. The
// benchmarks call them directly, outside a simulated run, as the unit tests do.
#pragma once

#include <cstdint>
#include <string>

#include "collect/if_list.h"
#include "generated_server.h"
#include "platform/sim/machine.h"
#include "trap/trap.h"

namespace crvbench {

class BenchServer {
 public:
  // Generates the server of that size, loads it and installs it; the module's state is
  // fresh. Aborts with a message when the scenario does not load.
  explicit BenchServer(uint32_t managedInterfaces);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  const ServerShape& Shape() const { return shape_; }
  sim::Machine& Machine() { return machine_; }

  // Destroys the current list, deleting its tree, as the collection loop does on a change.
  void DropList();
  // Starts a new condition generation and builds a new list (the previous one must have
  // been dropped); the result of Build.
  uint32_t BuildList();
  uint32_t Rebuild() {
    DropList();
    return BuildList();
  }
  // The current list, or null before the first Rebuild.
  crv::CIFList* List() { return list_; }
  // An error text when the last build did not model every managed interface, else empty.
  std::string CheckModel() const;

 private:
  ServerShape shape_;
  sim::Machine machine_;
  crv::CTrap* trap_ = nullptr;
  crv::CIFList* list_ = nullptr;
  uint32_t lastBuild_ = 0;
};

}  // namespace crvbench
