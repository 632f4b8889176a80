// Unsigned subtraction that stops at zero, for a later value less an earlier one that may
// exceed it: a clock reading taken before the agent started, an answer shorter than its
// header, a pause longer than the wait it is taken from.
#pragma once

#include <type_traits>

namespace crv {

template <class T>
constexpr T SubtractOrZero(T from, T amount) {
  static_assert(std::is_unsigned_v<T>);
  return from > amount ? static_cast<T>(from - amount) : T{0};
}

}  // namespace crv
