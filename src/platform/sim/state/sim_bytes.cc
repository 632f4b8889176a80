#include "platform/sim/state/sim_bytes.h"

namespace sim {

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> MultiTextBytes(const std::vector<std::u16string>& texts) {
  std::vector<uint8_t> bytes;
  for (const auto& t : texts) {
    auto b = Utf16Bytes(t);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

void PutDword(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace sim
