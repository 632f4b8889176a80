#include "platform/sim/state/smbios_builder.h"

#include <initializer_list>

namespace sim {
namespace {

constexpr uint8_t kTypeSystem = 1;
constexpr uint8_t kTypeSlot = 9;
constexpr uint8_t kTypeOnboard = 41;
constexpr uint8_t kTypeEnd = 127;

class TableWriter {
 public:
  // One structure: its formatted area (type, length, handle, then the fields) and strings.
  void Add(uint8_t type, std::initializer_list<uint8_t> fields,
           std::initializer_list<const std::string*> strings = {}) {
    bytes_.push_back(type);
    bytes_.push_back(static_cast<uint8_t>(4 + fields.size()));
    bytes_.push_back(static_cast<uint8_t>(nextHandle_));
    bytes_.push_back(static_cast<uint8_t>(nextHandle_ >> 8));
    ++nextHandle_;
    bytes_.insert(bytes_.end(), fields);
    bool any = false;
    for (const std::string* text : strings) {
      if (text->empty()) continue;  // numbered 0 by its field
      bytes_.insert(bytes_.end(), text->begin(), text->end());
      bytes_.push_back(0);
      any = true;
    }
    if (!any) bytes_.push_back(0);
    bytes_.push_back(0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  uint16_t nextHandle_ = 0;
};

uint8_t Low(uint16_t v) { return static_cast<uint8_t>(v); }
uint8_t High(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
// String number of a text that is the n-th non-empty one of its structure.
uint8_t StringNumber(const std::string& text, uint8_t n) { return text.empty() ? 0 : n; }

}  // namespace

std::vector<uint8_t> BuildSmbiosTable(const SmbiosDescription& d) {
  TableWriter w;
  if (d.productName) {
    const std::string& maker = d.manufacturer;
    const std::string& product = *d.productName;
    uint8_t makerNumber = StringNumber(maker, 1);
    uint8_t productNumber = StringNumber(product, static_cast<uint8_t>(makerNumber + 1));
    // Manufacturer, product name, version, serial number, a zero UUID, wake-up type "power
    // switch", no SKU or family.
    w.Add(
        kTypeSystem,
        {makerNumber, productNumber, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0},
        {&maker, &product});
  }
  for (const SmbiosSlot& s : d.slots) {
    // Designation, PCI Express x16, long, 3.3 V, PME; then segment, bus and device/function.
    w.Add(kTypeSlot,
          {StringNumber(s.designation, 1), 0xA5, 0x0D, s.usage, 0x04, Low(s.id), High(s.id), 0x04,
           0x01, Low(s.segment), High(s.segment), s.bus, s.devfn},
          {&s.designation});
  }
  for (const SmbiosOnboardDevice& o : d.onboard) {
    w.Add(kTypeOnboard,
          {StringNumber(o.designation, 1), o.type, o.instance, Low(o.segment), High(o.segment),
           o.bus, o.devfn},
          {&o.designation});
  }
  w.Add(kTypeEnd, {});
  return w.Take();
}

WmiObject& InstallSmbiosTable(SimWmi& wmi, const std::vector<uint8_t>& table,
                              const SmbiosHeader& header) {
  WmiClass& c = wmi.Class(u"root\\wmi", u"MSSmBios_RawSMBiosTables");
  c.objects.clear();
  WmiObject& object = wmi.AddObject(u"root\\wmi", u"MSSmBios_RawSMBiosTables");
  object.Set(u"Active", WmiValue::Bool(true));
  object.Set(u"InstanceName", WmiValue::Text(u"SMBiosData"));
  object.Set(u"SMBiosData", WmiValue::Bytes(table));
  object.Set(u"Size", WmiValue::Integer(platform::kVtI4, static_cast<int64_t>(table.size())));
  object.Set(u"Used20CallingMethod", WmiValue::Bool(header.used20CallingMethod));
  object.Set(u"SmbiosMajorVersion", WmiValue::Integer(platform::kVtUi1, header.majorVersion));
  object.Set(u"SmbiosMinorVersion", WmiValue::Integer(platform::kVtUi1, header.minorVersion));
  object.Set(u"DmiRevision", WmiValue::Integer(platform::kVtUi1, header.dmiRevision));
  return object;
}

WmiObject& InstallSmbios(SimWmi& wmi, const SmbiosDescription& description,
                         const SmbiosHeader& header) {
  return InstallSmbiosTable(wmi, BuildSmbiosTable(description), header);
}

}  // namespace sim
