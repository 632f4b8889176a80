#include "discovery/adapter_model_table.h"

#include "common/text.h"
#include "discovery/miniport.h"
#include "platform/ndis.h"

namespace crv {
namespace {

struct DriverRow {
  const char16_t* serviceName;
  uint8_t family;
};

// The drivers the agent knows, in lookup order (the first equal name wins).
constexpr DriverRow kDrivers[] = {
    {u"netflx3", 4},    {u"N100", 5},       {u"N1000", 6},    {u"N1e5132", 6},   {u"E100", 7},
    {u"E1000", 8},      {u"q57w2k", 9},     {u"q57amd64", 9}, {u"l2nd", 9},      {u"l2nd2", 16},
    {u"NXP2NIC", 10},   {u"N1000x8", 6},    {u"N1000e8", 6},  {u"q57nd60x", 9},  {u"q57nd60a", 9},
    {u"e1qexpress", 6}, {u"e1rexpress", 6}, {u"NXND6Vq", 10}, {u"NXND5Vq", 10},  {u"b57nd", 9},
    {u"b57w2k", 9},     {u"e1express", 6},  {u"be2net", 11},  {u"mlx4eth5", 12}, {u"mlx4eth6", 12},
    {u"QLNDNIC", 10},   {u"QLNDNIC", 10},   {u"ixgbn", 13},   {u"ixgbt", 14},    {u"mlx4eth62", 12},
    {u"xoib62", 12},    {u"mlx4eth63", 12}, {u"ipoib6x", 12}, {u"i40ea", 8},     {u"mlx5", 15},
    {u"SFCNDIS", 17},
};
static_assert(sizeof kDrivers / sizeof kDrivers[0] == 36);

constexpr char16_t kNotAvailable[] = u"N/A";
constexpr char16_t kNotAvailableLower[] = u"n/a";

// The server maker's part numbers, one block per driver family. The rows (key word and part
// number text) come from the maker's product list, which the agent does not carry yet: every
// block is empty, so every adapter gets its block's no-match text. A block's rows are added
// as a constexpr PartNumberRow array in place of kNoRows.
constexpr std::span<const PartNumberRow> kNoRows{};

constexpr PartNumberBlock kFamily2{PartNumberKey::kSubsystemId, kNoRows, kNotAvailableLower};
constexpr PartNumberBlock kFamily3{PartNumberKey::kNone, kNoRows, kNotAvailable};
constexpr PartNumberBlock kFamily4{PartNumberKey::kPciId, kNoRows, kNotAvailable};
// One block for the families 5, 6, 7, 8, 13 and 14.
constexpr PartNumberBlock kFamiliesPrivateDuplex{PartNumberKey::kSubsystemId, kNoRows,
                                                 kNotAvailable};
constexpr PartNumberBlock kFamily9{PartNumberKey::kSubsystemId, kNoRows, kNotAvailable};
constexpr PartNumberBlock kFamily10{PartNumberKey::kSubsystemId, kNoRows, kNotAvailable};
constexpr PartNumberBlock kFamily11{PartNumberKey::kSubsystemId, kNoRows, kNotAvailableLower};
constexpr PartNumberBlock kFamily12{PartNumberKey::kSubsystemId, kNoRows, kNotAvailableLower};
constexpr PartNumberBlock kFamily15{PartNumberKey::kSubsystemId, kNoRows, kNotAvailableLower};
constexpr PartNumberBlock kFamily16{PartNumberKey::kSubsystemId, kNoRows, kNotAvailable};
constexpr PartNumberBlock kFamily17{PartNumberKey::kSubsystemId, kNoRows, kNotAvailable};

}  // namespace

const PartNumberBlock* PartNumberBlockOf(uint8_t family) {
  switch (family) {
    case 2:
      return &kFamily2;
    case 3:
      return &kFamily3;
    case 4:
      return &kFamily4;
    case 5:
    case 6:
    case 7:
    case 8:
    case 13:
    case 14:
      return &kFamiliesPrivateDuplex;
    case 9:
      return &kFamily9;
    case 10:
      return &kFamily10;
    case 11:
      return &kFamily11;
    case 12:
      return &kFamily12;
    case 15:
      return &kFamily15;
    case 16:
      return &kFamily16;
    case 17:
      return &kFamily17;
    default:
      return nullptr;
  }
}

const char16_t* LookUpPartNumber(const PartNumberBlock& block, uint32_t key) {
  if (block.keyKind != PartNumberKey::kNone) {
    for (const PartNumberRow& row : block.rows) {
      if (row.key == key) return row.text;
    }
  }
  return block.noMatchText;
}

void SetPartNumber(CMiniport& miniport) {
  miniport.SetPartNumber(kNotAvailable);
  const PartNumberBlock* block = PartNumberBlockOf(miniport.DriverFamily());
  if (block == nullptr) return;
  uint32_t key =
      block->keyKind == PartNumberKey::kPciId ? miniport.PciId() : miniport.SubsystemId();
  miniport.SetPartNumber(LookUpPartNumber(*block, key));
}

void ClassifyDriver(CMiniport& miniport, const char16_t* serviceName) {
  for (const DriverRow& row : kDrivers) {
    if (EqualsNoCase(serviceName, row.serviceName)) {
      miniport.SetDriverFamily(row.family);
      break;
    }
  }
  if (miniport.DriverFamily() == kFamilyUnclassified &&
      miniport.Medium() == platform::kNdisMedium802_3) {
    miniport.SetDriverFamily(kFamilyGeneric8023);
  }
  SetPartNumber(miniport);
}

}  // namespace crv
