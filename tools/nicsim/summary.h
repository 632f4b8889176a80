// What nicsim shows a person after a run besides the tree: the server's interface table, the
// traps the agent raised and, cycle by cycle, each port's link condition.
#pragma once

#include <string>
#include <string_view>

#include "platform/sim/machine.h"

// Outside text (adapter descriptions, messages, the console, a scenario's error) as nicsim
// prints it: control characters written as \xNN (C1 ones as \u0080 to \u009F), bytes that
// are not UTF-8 as \xNN, and line ends kept only when asked, so that no text can drive the
// terminal nor split a line that must stay one.
enum class LineEnds { kKeep, kEscape };
std::string Shown(std::string_view text, LineEnds lineEnds = LineEnds::kKeep);

// The interface table as the run left it: each row's index, what it is (an adapter's own
// interface, an NDIS filter's, one without TCP/IP) and its description.
void PrintInterfaceTable(const sim::Machine& machine);
// Every trap record under the tree's trap keys, in time order.
void PrintTraps(sim::Machine& machine);
// One line per publication cycle, one column per port (by MAC address), from the values the
// agent wrote; the machine must have recorded registry writes.
void PrintLinkTimeline(const sim::Machine& machine);
