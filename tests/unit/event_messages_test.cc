// The message table compiled into the module and the table the agent and the simulated
// server use hold the same events: ids, names and sentences, in the same order; and each
// sentence names exactly the inserts its event is written with.
#include "events/event_messages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct McMessage {
  uint32_t id = 0;
  std::string symbolName;
  std::string text;
};

// The messages of the .mc file: MessageId, SymbolicName, Language, then the text on one
// line and the line holding a single period.
std::vector<McMessage> ReadMc() {
  std::string here = __FILE__;
  std::ifstream file(here.substr(0, here.rfind("/tests/")) + "/src/events/crvnicmgmt_events.mc");
  EXPECT_TRUE(file.good());
  std::vector<McMessage> messages;
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("MessageId=", 0) == 0) {
      messages.push_back({static_cast<uint32_t>(std::stoul(line.substr(10))), "", ""});
    } else if (line.rfind("SymbolicName=", 0) == 0 && !messages.empty()) {
      messages.back().symbolName = line.substr(13);
    } else if (line.rfind("Language=", 0) == 0 && !messages.empty()) {
      std::getline(file, messages.back().text);
      std::getline(file, line);
      EXPECT_EQ(".", line) << messages.back().symbolName << " takes one line";
    }
  }
  return messages;
}

// Each entry equals its .mc message, and its sentence takes exactly its inserts.
TEST(EventMessagesTest, TheCompiledTableHoldsTheAgentsSentencesWithTheirInserts) {
  std::vector<McMessage> mc = ReadMc();
  ASSERT_EQ(std::size(crv::kEventMessages), mc.size());
  for (size_t i = 0; i < mc.size(); ++i) {
    const crv::EventMessage& m = crv::kEventMessages[i];
    SCOPED_TRACE(m.symbolName);
    EXPECT_EQ(m.id, mc[i].id);
    EXPECT_EQ(m.symbolName, mc[i].symbolName);
    EXPECT_EQ(m.text, mc[i].text);
    // The message compiler reads '%' with a digit as an insert and '!' after one as a format.
    const std::string text = m.text;
    EXPECT_EQ(std::string::npos, text.find_first_of("!\n"));
    std::vector<bool> used(m.inserts, false);
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
      int n = at + 1 < text.size() ? text[at + 1] - '0' : 0;
      ASSERT_TRUE(n >= 1 && n <= m.inserts) << text.substr(at);
      used[static_cast<size_t>(n - 1)] = true;
    }
    EXPECT_EQ(std::vector<bool>(m.inserts, true), used);
    EXPECT_EQ(&m, crv::FindEventMessage(m.id));
  }
}

}  // namespace
