// What nicsim shows a person after a run besides the tree: the traps the agent raised and,
// cycle by cycle, each port's link condition.
#pragma once

#include "platform/sim/machine.h"

// Every trap record under the tree's trap keys, in time order.
void PrintTraps(sim::Machine& machine);
// One line per publication cycle, one column per port (by MAC address), from the values the
// agent wrote; the machine must have recorded registry writes.
void PrintLinkTimeline(const sim::Machine& machine);
