// The module's exported functions (the report sink is declared with the reports).
#pragma once

#include <cstdint>

#include "common/report.h"

// The host's entry: its own argument count and vector, program name first. Carries out an
// installation word and returns, or runs the agent and, once it has started, never returns.
// Always 0.
extern "C" int32_t Win2KMain(int32_t argc, char** argv);
