// What nicsim shows a person after a run besides the tree: the server's interface table, the
// traps the agent raised and, cycle by cycle, each port's link condition.
#pragma once

#include <string>
#include <string_view>

#include "platform/sim/machine.h"

// Outside text (adapter descriptions, messages, the console) as nicsim prints it: line ends
// kept, other control characters written as \xNN.
std::string Shown(std::string_view text);

// The interface table as the run left it: each row's index, what it is (an adapter's own
// interface, an NDIS filter's, one without TCP/IP) and its description.
void PrintInterfaceTable(const sim::Machine& machine);
// Every trap record under the tree's trap keys, in time order.
void PrintTraps(sim::Machine& machine);
// One line per publication cycle, one column per port (by MAC address), from the values the
// agent wrote; the machine must have recorded registry writes.
void PrintLinkTimeline(const sim::Machine& machine);
