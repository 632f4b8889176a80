#include "platform/platform.h"

namespace platform {
namespace {
Platform g_installed;
}  // namespace

const Platform& Os() { return g_installed; }

void Install(const Platform& platform) { g_installed = platform; }

}  // namespace platform
