// The floor of a publication cycle on a real registry (Windows, or Wine): a generated model is
// built on the simulated server, then its cycles run with every registry call going to the
// real registry instead (the devices and the IP helper stay simulated). The wall time of one
// cycle is set against the time of the registry work the cycle cannot avoid: the same value
// writes, each with its key opened just before and closed just after, done directly.
//
// usage: crv-registry-floor.exe [SIZE] [CYCLES]   (default 512 interfaces, 5 cycles)
// Run it in a Wine prefix of its own (tests/windows/with-wine.sh): it writes the keys the
// agent reads (network class, TCP/IP interfaces, connection names) into the real registry.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench_server.h"
#include "platform/platform.h"
#include "platform/sim/state/registry_sim.h"
#include "platform/win32/backends.h"
#include "publish/published_tree.h"

// Last: the simulated server's headers use names that windows.h defines as macros.
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kNameChars = 261;

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The agent's registry calls, passed to the real registry; while recording, each call is kept
// with the key it was made on, so that the same calls can be made again directly, and each
// value written also with its key's path.
class RecordingRegistry final : public platform::Registry {
 public:
  enum class Kind { kOpen, kCreate, kClose, kSet, kQuery, kEnumKey, kEnumValue };
  struct Call {
    Kind kind;
    int key;              // the key the call is made on: a number given at its opening, -1 HKLM
    int opened = -1;      // the number an open or create gives its key
    std::u16string text;  // subkey or value name
    uint32_t options = 0, access = 0, type = 0, index = 0, size = 0;
    bool withData = false;
    std::vector<uint8_t> data;
  };
  struct Write {
    std::u16string path;
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };

  explicit RecordingRegistry(platform::Registry& real) : real_(real) {}

  void Record(bool on) { recording_ = on; }
  // Wall time spent inside the real registry's calls since the last reset.
  Clock::duration InRegistry() const { return inRegistry_; }
  void ResetTime() { inRegistry_ = {}; }
  const std::vector<Call>& Calls() const { return calls_; }
  const std::vector<Write>& Writes() const { return writes_; }
  int KeysOpened() const { return nextKey_; }
  size_t CountOf(Kind kind) const {
    size_t n = 0;
    for (const auto& c : calls_) n += c.kind == kind ? 1 : 0;
    return n;
  }

  int32_t OpenKeyEx(platform::RegKey key, const char16_t* subKey, uint32_t options, uint32_t access,
                    platform::RegKey* result) override {
    int32_t status = Timed([&] { return real_.OpenKeyEx(key, subKey, options, access, result); });
    Opened(Kind::kOpen, key, subKey, options, access, status == 0 ? *result : nullptr);
    return status;
  }
  int32_t CreateKeyEx(platform::RegKey key, const char16_t* subKey, const char16_t* keyClass,
                      uint32_t options, uint32_t access, platform::RegKey* result,
                      uint32_t* disposition) override {
    int32_t status = Timed([&] {
      return real_.CreateKeyEx(key, subKey, keyClass, options, access, result, disposition);
    });
    Opened(Kind::kCreate, key, subKey, options, access, status == 0 ? *result : nullptr);
    return status;
  }
  int32_t DeleteKey(platform::RegKey key, const char16_t* subKey) override {
    return Timed([&] { return real_.DeleteKey(key, subKey); });
  }
  int32_t DeleteValue(platform::RegKey key, const char16_t* valueName) override {
    return Timed([&] { return real_.DeleteValue(key, valueName); });
  }
  int32_t SetValueEx(platform::RegKey key, const char16_t* valueName, uint32_t type,
                     const uint8_t* data, uint32_t size) override {
    if (recording_) {
      Call& c = Add(Kind::kSet, key, valueName);
      c.type = type;
      c.data.assign(data, data + size);
      writes_.push_back({PathOf(key), c.text, type, c.data});
    }
    return Timed([&] { return real_.SetValueEx(key, valueName, type, data, size); });
  }
  int32_t QueryValueEx(platform::RegKey key, const char16_t* valueName, uint32_t* type,
                       uint8_t* data, uint32_t* size) override {
    if (recording_) {
      Call& c = Add(Kind::kQuery, key, valueName);
      c.size = size != nullptr ? *size : 0;
      c.withData = data != nullptr;
    }
    return Timed([&] { return real_.QueryValueEx(key, valueName, type, data, size); });
  }
  int32_t EnumKeyEx(platform::RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    platform::FileTime* lastWriteTime) override {
    if (recording_) Add(Kind::kEnumKey, key, nullptr).index = index;
    return Timed([&] { return real_.EnumKeyEx(key, index, name, nameLength, lastWriteTime); });
  }
  int32_t EnumValue(platform::RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    uint32_t* type, uint8_t* data, uint32_t* dataSize) override {
    if (recording_) Add(Kind::kEnumValue, key, nullptr).index = index;
    return Timed(
        [&] { return real_.EnumValue(key, index, name, nameLength, type, data, dataSize); });
  }
  int32_t CloseKey(platform::RegKey key) override {
    if (recording_) Add(Kind::kClose, key, nullptr);
    keys_.erase(key);
    return Timed([&] { return real_.CloseKey(key); });
  }

 private:
  struct OpenKey {
    int number;
    std::u16string path;  // relative to HKEY_LOCAL_MACHINE
  };

  template <typename RealCall>
  int32_t Timed(RealCall call) {
    auto start = Clock::now();
    int32_t status = call();
    inRegistry_ += Clock::now() - start;
    return status;
  }
  Call& Add(Kind kind, platform::RegKey key, const char16_t* text) {
    auto it = keys_.find(key);
    calls_.push_back({kind, it != keys_.end() ? it->second.number : -1});
    if (text != nullptr) calls_.back().text = text;
    return calls_.back();
  }
  void Opened(Kind kind, platform::RegKey key, const char16_t* subKey, uint32_t options,
              uint32_t access, platform::RegKey result) {
    std::u16string path = PathOf(key);
    std::u16string sub = subKey != nullptr ? subKey : u"";
    path = path.empty() ? sub : sub.empty() ? path : path + u"\\" + sub;
    int number = nextKey_++;
    if (recording_) {
      Call& c = Add(kind, key, subKey);
      c.options = options;
      c.access = access;
      c.opened = number;
    }
    if (result != nullptr) keys_[result] = {number, path};
  }
  std::u16string PathOf(platform::RegKey key) const {
    auto it = keys_.find(key);
    return it != keys_.end() ? it->second.path : std::u16string();
  }

  platform::Registry& real_;
  std::map<platform::RegKey, OpenKey> keys_;
  int nextKey_ = 0;
  std::vector<Call> calls_;
  std::vector<Write> writes_;
  bool recording_ = false;
  Clock::duration inRegistry_{};
};

// Copies a key of the simulated registry, with its values and subkeys, into the real one.
void CopyKey(const sim::RegKeyNode& node, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot create HKLM\\%ls\n", Wide(path));
    std::exit(1);
  }
  for (const auto& [name, value] : node.values) {
    RegSetValueExW(key, Wide(name), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  }
  RegCloseKey(key);
  for (const auto& [name, child] : node.subkeys) CopyKey(*child, path + u"\\" + name);
}

void CopyFromSimulation(const sim::SimRegistry& registry) {
  for (const char16_t* path :
       {u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
        u"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
        u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces"}) {
    auto node = sim::SimRegistry::Find(registry.root(), path);
    if (node) CopyKey(*node, path);
  }
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The writes again, directly: open the key for setting values, write, close.
void WriteDirectly(const std::vector<RecordingRegistry::Write>& writes) {
  for (const auto& w : writes) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(w.path), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
      continue;
    }
    RegSetValueExW(key, Wide(w.name), 0, w.type, w.data.data(), static_cast<DWORD>(w.data.size()));
    RegCloseKey(key);
  }
}

// Every registry call of the cycle again, directly, in the same order on the same keys.
void CallDirectly(const RecordingRegistry& recorded) {
  using Kind = RecordingRegistry::Kind;
  std::vector<HKEY> keys(static_cast<size_t>(recorded.KeysOpened()), nullptr);
  std::vector<uint8_t> buffer;
  wchar_t name[kNameChars];
  for (const auto& c : recorded.Calls()) {
    HKEY key = c.key < 0 ? HKEY_LOCAL_MACHINE : keys[static_cast<size_t>(c.key)];
    DWORD length = kNameChars;
    switch (c.kind) {
      case Kind::kOpen:
        RegOpenKeyExW(key, Wide(c.text), c.options, c.access, &keys[static_cast<size_t>(c.opened)]);
        break;
      case Kind::kCreate:
        RegCreateKeyExW(key, Wide(c.text), 0, nullptr, c.options, c.access, nullptr,
                        &keys[static_cast<size_t>(c.opened)], nullptr);
        break;
      case Kind::kClose:
        RegCloseKey(key);
        break;
      case Kind::kSet:
        RegSetValueExW(key, Wide(c.text), 0, c.type, c.data.data(),
                       static_cast<DWORD>(c.data.size()));
        break;
      case Kind::kQuery: {
        DWORD size = c.size, type = 0;
        buffer.resize(c.size + 1);
        RegQueryValueExW(key, Wide(c.text), nullptr, &type, c.withData ? buffer.data() : nullptr,
                         &size);
        break;
      }
      case Kind::kEnumKey:
        RegEnumKeyExW(key, c.index, name, &length, nullptr, nullptr, nullptr, nullptr);
        break;
      case Kind::kEnumValue:
        RegEnumValueW(key, c.index, name, &length, nullptr, nullptr, nullptr, nullptr);
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t size = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 512;
  int cycles = argc > 2 ? std::atoi(argv[2]) : 5;
  if (cycles < 1) cycles = 1;
  crvbench::BenchServer server(size);
  server.Rebuild();
  std::string problem = server.CheckModel();
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 1;
  }
  CopyFromSimulation(server.Machine().registry());

  RecordingRegistry recording(platform::win32::RegistryBackend());
  platform::Platform hybrid = server.Machine().platform();
  hybrid.registry = &recording;
  platform::Install(hybrid);
  crv::CIFList& list = *server.List();
  if (crv::CreateTree(list.HasEthernet()) != 0) {
    std::fprintf(stderr, "the tree cannot be created in the real registry\n");
    return 1;
  }
  list.PublishCycle();  // the first cycle creates every value

  recording.Record(true);
  list.PublishCycle();
  recording.Record(false);
  recording.ResetTime();
  auto start = Clock::now();
  for (int i = 0; i < cycles; ++i) list.PublishCycle();
  double cycleMs = Milliseconds(Clock::now() - start) / cycles;
  double inRegistryMs = Milliseconds(recording.InRegistry()) / cycles;
  start = Clock::now();
  for (int i = 0; i < cycles; ++i) CallDirectly(recording);
  double callsMs = Milliseconds(Clock::now() - start) / cycles;
  start = Clock::now();
  for (int i = 0; i < cycles; ++i) WriteDirectly(recording.Writes());
  double writesMs = Milliseconds(Clock::now() - start) / cycles;

  using Kind = RecordingRegistry::Kind;
  std::printf(
      "interfaces %u ports %u, %d cycles timed\n"
      "registry calls of one cycle: %zu opens, %zu creates, %zu closes, %zu value writes, "
      "%zu value reads, %zu enumerations\n"
      "publication cycle                                  %8.2f ms\n"
      "  of which inside the registry's calls             %8.2f ms\n"
      "  the rest: agent, simulated devices and IP helper %8.2f ms\n"
      "the same registry calls, made directly             %8.2f ms  (cycle / calls  %.2f)\n"
      "its %zu value writes, each key opened and closed  %8.2f ms  (cycle / writes %.2f)\n",
      server.Shape().managed, server.Shape().ports, cycles, recording.CountOf(Kind::kOpen),
      recording.CountOf(Kind::kCreate), recording.CountOf(Kind::kClose),
      recording.CountOf(Kind::kSet), recording.CountOf(Kind::kQuery),
      recording.CountOf(Kind::kEnumKey) + recording.CountOf(Kind::kEnumValue), cycleMs,
      inRegistryMs, cycleMs - inRegistryMs, callsMs, cycleMs / callsMs, recording.Writes().size(),
      writesMs, cycleMs / writesMs);

  server.Machine().Install();  // the list's tree goes from the simulated registry
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\TessarNetwork");
  return 0;
}
