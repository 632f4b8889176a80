// The tree as Prometheus metrics, through the renderer the agent's own metrics file is made
// with (metrics/prometheus_metrics.h), and the replace-by-rename write that Prometheus'
// textfile collectors expect, through a temporary file of its own.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metrics/prometheus_metrics.h"
#include "tree_view.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessar {
namespace {

const char* const kTrapKinds[crv::kTrapKinds] = {"connectivity lost", "connectivity regained",
                                                 "redundancy reduced", "redundancy increased"};

}  // namespace

// The view handed to the renderer the agent's metrics file is made with; the tree holds
// 32-bit frame and octet counts only, and they are shown as such.
std::string RenderPrometheus(const TreeView& view) {
  crv::MetricsInput input;
  input.present = view.present;
  input.overallCondition = view.overallCondition;
  input.pollIntervalSeconds = view.pollIntervalSeconds;
  input.cycleFileTime = view.cycleFileTime;
  std::vector<crv::MetricsInterface> interfaces;
  for (const InterfaceView& i : view.interfaces) {
    crv::MetricsInterface m;
    m.name = i.name.c_str();
    m.mapNumber = i.mapNumber;
    m.description = i.description.c_str();
    m.mac = i.mac.c_str();
    m.ipv4 = i.ipv4.c_str();
    m.grouping = i.grouping;
    m.status = i.status;
    m.speedBitsPerSecond = i.speedBitsPerSecond;
    m.portCount = i.portCount;
    m.portsWithLink = i.portsWithLink;
    interfaces.push_back(m);
  }
  std::vector<crv::MetricsPort> ports;
  for (const PortView& p : view.ports) {
    crv::MetricsPort m;
    m.interfaceName = p.interfaceName.c_str();
    m.interfaceMapNumber = p.interfaceMapNumber;
    m.portNumber = p.portNumber;
    m.slot = p.slot;
    m.pciLocation = p.pciLocation.c_str();
    m.mac = p.mac.c_str();
    m.description = p.description.c_str();
    m.pciId = p.pciId;
    m.subsystemId = p.subsystemId;
    m.firmware = p.firmware.c_str();
    m.partNumber = p.partNumber.c_str();
    m.linkCondition = p.linkCondition;
    m.duplex = p.duplex;
    m.speedBitsPerSecond = p.speedBitsPerSecond;
    m.framesSent = p.framesSent;
    m.framesReceived = p.framesReceived;
    m.octetsSent = p.octetsSent;
    m.octetsReceived = p.octetsReceived;
    for (size_t e = 0; e < p.ethernet.size() && e < crv::kEthernetCounters; ++e) {
      m.ethernet[e] = p.ethernet[e].second;
    }
    ports.push_back(m);
  }
  input.interfaces = interfaces.data();
  input.interfaceCount = interfaces.size();
  input.ports = ports.data();
  input.portCount = ports.size();
  input.trapRecords = true;
  for (const TrapView& t : view.traps) {
    bool known = false;
    for (size_t k = 0; k < crv::kTrapKinds; ++k) {
      if (t.kind != kTrapKinds[k]) continue;
      known = true;
      ++input.trapCounts[k];
      if (t.fileTime > input.trapNewestFileTime[k]) input.trapNewestFileTime[k] = t.fileTime;
    }
    if (!known) ++input.unknownTraps;
  }
  input.trapRecordsRemoved = view.trapRecordsRemoved;
  // The tool's own heap: a dump is read without an installed platform.
  static const crv::MetricsHeap heap{&std::malloc, &std::free};
  crv::MetricsText text(heap);
  crv::RenderPrometheus(input, &text);
  return text.Failed() ? std::string() : std::string(text.Data(), text.Size());
}

namespace {

// Creates name as a new file, refusing anything already there under it, a link included.
int CreateNewFile(const std::string& name) {
#if defined(_WIN32)
  return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    unsigned chunk = static_cast<unsigned>(std::min<size_t>(text.size(), 1u << 20));
#if defined(_WIN32)
    int n = _write(fd, text.data(), chunk);
#else
    ssize_t n = write(fd, text.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int CloseFile(int fd) {
#if defined(_WIN32)
  return _close(fd);
#else
  return close(fd);
#endif
}

// A temporary file beside path under a name of its own (random, so that nobody can plant
// something there in advance), created exclusively. -1 with a message when none can be.
int CreateTemporaryBeside(const std::string& path, std::string* temporary, std::string* error) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x%08x.tmp", random(), random());
    *temporary = path + suffix;
    int fd = CreateNewFile(*temporary);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  *error = "cannot create " + *temporary + ": " + std::strerror(errno);
  return -1;
}

}  // namespace

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string* error) {
  std::string temporary;
  int fd = CreateTemporaryBeside(path, &temporary, error);
  if (fd < 0) return false;
  bool written = WriteAll(fd, text);
  int writeErrno = errno;
  written = CloseFile(fd) == 0 && written;
  if (!written) {
    *error = "cannot write " + temporary + ": " + std::strerror(writeErrno);
    std::remove(temporary.c_str());
    return false;
  }
#if defined(_WIN32)
  // rename() on Windows refuses an existing target; MoveFileEx replaces it.
  bool renamed = MoveFileExA(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  bool renamed = std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!renamed) {
    *error = "cannot rename " + temporary + " to " + path;
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace tessar
