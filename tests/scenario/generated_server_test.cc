// The benchmarks' generated servers are what they claim to be: a build models every managed
// interface, the teams' and VLANs' included, on a server whose adapters outnumber by far what
// the teams name and whose NIC Teaming answer is at the agent's bounds.
#include <gtest/gtest.h>

#include "bench_server.h"

namespace {

TEST(GeneratedServer, ABuildModelsEveryInterfaceItClaims) {
  for (uint32_t size : {64u, 512u}) {
    crvbench::BenchServer server(size);
    server.BuildList();
    EXPECT_EQ(server.CheckModel(), "") << size << " interfaces";
  }
}

}  // namespace
