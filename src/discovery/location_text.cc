#include "discovery/location_text.h"

#include "common/parse_first_number.h"
#include "common/text.h"

namespace crv {
namespace {
constexpr uint32_t kMellanoxPrefixChars = 4;  // "MLX4"
constexpr int kMostNumbers = 4;
}  // namespace

void ParseLocationText(const char16_t* text, bool mellanox, PciLocation* location) {
  if (text == nullptr) return;
  uint32_t position = 0;
  if (mellanox) {
    size_t length = TextLengthBounded(text, kMellanoxPrefixChars);
    position = static_cast<uint32_t>(length);
  }
  uint32_t numbers[kMostNumbers] = {kNoNumber, kNoNumber, kNoNumber, kNoNumber};
  int found = 0;
  while (found < kMostNumbers) {
    uint32_t next = 0;
    uint32_t value = ParseFirstNumber(text + position, next);
    if (value == kNoNumber) break;
    numbers[found++] = value;
    position += next;
  }
  if (found < kMostNumbers) {
    location->slot = 0;
    location->bus = numbers[0];
    location->device = numbers[1];
    location->function = numbers[2];
  } else if (mellanox) {
    location->slot = 0;
    location->bus = numbers[0];
    location->device = numbers[1];
    location->function = numbers[2];
    location->port = numbers[3];
  } else {
    location->slot = numbers[0];
    location->bus = numbers[1];
    location->device = numbers[2];
    location->function = numbers[3];
  }
}

}  // namespace crv
