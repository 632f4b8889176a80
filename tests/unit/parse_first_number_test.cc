#include "service/parse_first_number.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseFirstNumber, StepsThroughATextSkippingSignsAndSaturating) {
  const char16_t* text = u"PCI bus 3, device -12, function 99999999999";
  uint32_t next = 0;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 3u);
  EXPECT_EQ(next, 9u);
  text += next;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 12u);
  EXPECT_EQ(next, 12u);  // counted from the advanced pointer
  text += next;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 0x7FFFFFFFu);
  EXPECT_EQ(next, 22u);  // every digit is consumed
  text += next;
  next = 77;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), crv::kNoNumber);
  EXPECT_EQ(crv::ParseFirstNumber(u"no digits -+", next), crv::kNoNumber);
  EXPECT_EQ(next, 77u);
}

}  // namespace
