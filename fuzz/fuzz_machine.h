// What the harnesses share: a fresh simulated machine per input, installed as the platform
// the agent's readers run on, and the decoding of fuzz bytes into the texts and words the
// outside world hands the agent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace crvfuzz {

// A fresh machine with the module's process-wide state reset around it. Done() checks that
// what the agent code allocated, opened or borrowed during the input was given back; a
// leftover aborts, so that libFuzzer keeps the input.
class FuzzMachine {
 public:
  FuzzMachine();
  ~FuzzMachine();
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  void Done();

  sim::Machine machine;
};

// Reads the fuzz input front to back; past the end every read answers zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte();
  uint32_t Word();
  // count bytes (fewer when the input runs out).
  std::vector<uint8_t> Bytes(size_t count);
  // UTF-16LE text of at most maxChars characters: its length (two bytes) is read first.
  std::u16string Text(size_t maxChars);
  // Everything not read yet.
  std::vector<uint8_t> Rest();
  size_t Left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The input as UTF-16LE text, terminated (an odd last byte is dropped).
std::u16string WideText(const uint8_t* data, size_t size);

}  // namespace crvfuzz
