#include "platform/sim/harness/event_text.h"

#include <cstdio>
#include <string>

#include "common/utf.h"
#include "events/event_messages.h"
#include "platform/sim/state/file_time.h"

namespace sim {

std::u16string FormatEventMessage(const EventRecord& event) {
  const crv::EventMessage* message = crv::FindEventMessage(event.eventId);
  if (message == nullptr) {
    std::u16string line = u"The description for Event ID " +
                          crv::Utf8ToUtf16(std::to_string(event.eventId)) + u" from source " +
                          event.source + u" cannot be found.";
    for (const std::u16string& text : event.strings) line += u" " + text;
    return line;
  }
  // %n followed by digits is the n-th insert; an insert that was not given stays as it is.
  std::u16string out;
  const std::string text = message->text;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      size_t end = i + 1;
      size_t number = 0;
      while (end < text.size() && end < i + 3 && text[end] >= '0' && text[end] <= '9') {
        number = number * 10 + static_cast<size_t>(text[end] - '0');
        ++end;
      }
      if (number <= event.strings.size()) {
        out += event.strings[number - 1];
      } else {
        out += crv::Utf8ToUtf16(text.substr(i, end - i));
      }
      i = end - 1;
    } else {
      out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    }
  }
  return out;
}

std::string FormatEventLine(const EventRecord& event, uint64_t startFileTime) {
  platform::SystemTime t = FileTimeToSystemTime(startFileTime + event.timeMs * 10000);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.milliseconds);
  char head[160];
  std::snprintf(head, sizeof head, "%s  %-11s  %4u  %s  ", stamp,
                EventLevelName(event.type).c_str(), event.eventId,
                crv::Utf16ToUtf8(event.source).c_str());
  return head + crv::Utf16ToUtf8(FormatEventMessage(event));
}

}  // namespace sim
