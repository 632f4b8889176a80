// The adapter builder's indexes beside the registry and the interface table: what they answer
// must be what a read of the whole class key or table would answer, also after a test edited
// the registry or the table behind their back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/state/net_class_keys.h"
#include "support/sim_fixture.h"

namespace {

constexpr char16_t kGuidA[] = u"{6A1C2E4F-0B3D-4E5F-8A9B-1C2D3E4F5A01}";
constexpr char16_t kGuidB[] = u"{6A1C2E4F-0B3D-4E5F-8A9B-1C2D3E4F5A02}";
constexpr char16_t kGuidC[] = u"{6A1C2E4F-0B3D-4E5F-8A9B-1C2D3E4F5A03}";

std::u16string ClassSubkey(const char16_t* number) {
  return std::u16string(sim::kNetClassKeyPath) + u"\\" + number;
}

class AdapterBuilderTest : public crvtest::SimTest {
 protected:
  std::u16string AddWithGuid(const char16_t* guid, uint32_t function) {
    return sim::AddAdapter(machine, {.guid = guid, .ifIndex = 20 + function, .function = function})
        .classKey;
  }
};

// Driver keys are numbered after the highest in use and kept by the GUID they name, whoever
// wrote them: the builder, or a test through the registry between two adapters.
TEST_F(AdapterBuilderTest, ClassKeysAreFoundByTheGuidTheyNameAsTheRegistryHasThem) {
  EXPECT_EQ(ClassSubkey(u"0000"), AddWithGuid(kGuidA, 0));
  EXPECT_EQ(ClassSubkey(u"0001"), AddWithGuid(kGuidB, 1));
  EXPECT_EQ(ClassSubkey(u"0000"), AddWithGuid(kGuidA, 0)) << "the same adapter again";

  // A key written by hand, numbered above the others and naming a third GUID (lower case).
  sim::SimRegistry& registry = machine.registry();
  ASSERT_TRUE(registry.CreateKey(ClassSubkey(u"0007")));
  registry.SetString(ClassSubkey(u"0007"), u"NetCfgInstanceId",
                     u"{6a1c2e4f-0b3d-4e5f-8a9b-1c2d3e4f5a03}");
  EXPECT_EQ(ClassSubkey(u"0007"), AddWithGuid(kGuidC, 2));

  // A key taken away: its adapter gets a new number after the highest.
  ASSERT_TRUE(registry.DeleteTree(ClassSubkey(u"0001")));
  EXPECT_EQ(ClassSubkey(u"0008"), AddWithGuid(kGuidB, 1));

  // A key whose NetCfgInstanceId was rewritten in place no longer belongs to its old GUID.
  registry.SetString(ClassSubkey(u"0000"), u"NetCfgInstanceId", u"{00000000-0000-0000-0000-0}");
  EXPECT_EQ(ClassSubkey(u"0009"), AddWithGuid(kGuidA, 0));

  // The whole class key replaced: numbering starts again.
  ASSERT_TRUE(registry.DeleteTree(sim::kNetClassKeyPath));
  EXPECT_EQ(ClassSubkey(u"0000"), AddWithGuid(kGuidC, 2));
}

std::vector<uint32_t> Indexes(const sim::SimNetwork& network) {
  std::vector<uint32_t> indexes;
  for (const auto& i : network.interfaces()) indexes.push_back(i.row.dwIndex);
  return indexes;
}

sim::SimInterface Row(uint32_t index, const char16_t* filteredAdapter = nullptr) {
  sim::SimInterface i;
  i.row.dwIndex = index;
  if (filteredAdapter != nullptr) {
    i.filter = true;
    i.filteredAdapter = filteredAdapter;
  }
  return i;
}

// The one pass that adding an adapter makes removes what the separate calls remove (only the
// first row of a repeated index, every filter row of the adapter, no other adapter's) and
// answers what UnusedIndex would.
TEST(SimNetworkRows, RemovingAnAdaptersRowsInOnePassMatchesTheSeparateCalls) {
  for (uint32_t removed : {5u, 100007u, 42u}) {
    sim::SimNetwork separate, onePass;
    for (sim::SimNetwork* n : {&separate, &onePass}) {
      n->Add(Row(5));
      n->Add(Row(100007, kGuidA));
      n->Add(Row(5));
      n->Add(Row(100009, kGuidB));
      n->Add(Row(100012, kGuidA));
      n->Add(Row(7));
    }
    separate.Remove(removed);
    separate.RemoveFiltersOf(kGuidA);
    const uint32_t highest = onePass.RemoveAdapterRows(removed, kGuidA);
    EXPECT_EQ(Indexes(separate), Indexes(onePass)) << "index " << removed;
    EXPECT_EQ(separate.UnusedIndex(), highest + 1) << "index " << removed;
  }
  sim::SimNetwork empty;
  EXPECT_EQ(sim::SimNetwork::kFirstSystemIndex, empty.RemoveAdapterRows(3, kGuidA) + 1);
}

// Filter rows are numbered from the highest index in use, the adapter's own row counted when
// it comes first.
TEST_F(AdapterBuilderTest, FilterRowsTakeTheNextFreeIndexes) {
  machine.network().Add(Row(100020));
  for (bool first : {false, true}) {
    sim::AddAdapter(machine, {.guid = kGuidA,
                              .ifIndex = first ? 7u : 200000u,
                              .filters = std::vector<std::u16string>{u"F1", u"F2"},
                              .filtersFirst = first});
    const std::vector<uint32_t> expected =
        first ? std::vector<uint32_t>{100020, 100021, 100022, 7}
              : std::vector<uint32_t>{100020, 200000, 200001, 200002};
    EXPECT_EQ(expected, Indexes(machine.network())) << (first ? "filters first" : "after");
  }
}

}  // namespace
