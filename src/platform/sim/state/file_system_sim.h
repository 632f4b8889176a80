// The simulated machine's folders, as far as the agent looks at them before it loads a library
// by full path: which files a folder holds and its DACL (allow and deny entries with their
// trustees as SID texts), and the process environment that folder names in the system PATH
// are expanded with. A vendor library installed in a folder of its own (SimVendorLibrary's
// folder) is a file of that folder.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/state/sim_text.h"

namespace sim {

// The system environment's key; its "Path" value names the folders of the system PATH.
inline constexpr char16_t kSystemEnvironmentKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Trustees of the default folder DACL, and the access masks Windows gives a folder below
// Program Files.
inline constexpr char kSidSystem[] = "S-1-5-18";
inline constexpr char kSidAdministrators[] = "S-1-5-32-544";
inline constexpr char kSidUsers[] = "S-1-5-32-545";
inline constexpr char kSidAuthenticatedUsers[] = "S-1-5-11";
inline constexpr char kSidCreatorOwner[] = "S-1-3-0";
inline constexpr char kSidTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr uint32_t kFileAllAccess = 0x001F01FF;
inline constexpr uint32_t kFileReadAndExecute = 0x001200A9;
inline constexpr uint32_t kFileModify = 0x001301BF;
inline constexpr uint32_t kGenericAll = 0x10000000;
inline constexpr uint8_t kAceInheritOnly = 0x08;
inline constexpr uint8_t kAceObjectAndContainerInherit = 0x03;

struct SimAce {
  uint8_t type = 0;  // 0 allowed, 1 denied (ACE_HEADER's AceType)
  uint8_t flags = 0;
  uint32_t mask = 0;
  std::string sid;  // "S-1-5-32-544"
};

// What a file written through CreateFileW holds, or a symbolic link (linkTarget, a full
// path) planted in its place.
struct SimFileData {
  std::string bytes;
  std::u16string linkTarget;
};

struct SimFolder {
  bool nullDacl = false;  // every right to everyone
  std::vector<SimAce> dacl;
  std::set<std::u16string, NoCaseLess> files;
  // The files that have contents or are links, by name (each also in files).
  std::map<std::u16string, SimFileData, NoCaseLess> contents;
};

class SimFileSystem {
 public:
  SimFileSystem();

  // Adds (or finds) a folder by its full path ("C:\Program Files\Vendor"); a new one has the
  // DACL of a folder below Program Files: SYSTEM, Administrators and TrustedInstaller full
  // control, Users read and execute, CREATOR OWNER full control on what is created inside.
  SimFolder& AddFolder(std::u16string_view path);
  const SimFolder* FindFolder(std::u16string_view path) const;
  // A file of a known folder, by full path.
  bool HasFile(std::u16string_view path) const;
  // A file's contents or link by full path, made (empty) when create is set and its folder
  // is known; null otherwise. A link is not followed.
  SimFileData* FileData(std::u16string_view path, bool create = false);
  // Removes a file; false when there is none.
  bool RemoveFile(std::u16string_view path);
  // A symbolic link at path to target, in place of whatever had that name.
  void PlantLink(std::u16string_view path, std::u16string_view target);
  // The names of a folder's files, in order.
  std::vector<std::u16string> FileNames(std::u16string_view folder) const;
  // Files open through CreateFileW: the full path of each handle's file.
  std::map<uintptr_t, std::u16string> openFiles;
  // Someone racing the agent: the next count CreateFileW calls for a path that starts with
  // prefix find a link to target planted at that path just before.
  struct LinkRace {
    std::u16string prefix;
    std::u16string target;
    uint32_t count = 0;
  } linkRace;

  // The DACL as Windows lays it out: ACL header, then each entry with its SID. A SID text
  // that does not parse ends the program (scenario texts are checked when loaded).
  static std::vector<uint8_t> AclBytes(const std::vector<SimAce>& dacl);
  // "S-1-5-32-544" as Windows lays a SID out; empty when the text is no SID.
  static std::vector<uint8_t> SidBytes(std::string_view text);

  // The process environment (variable names compared without regard to case), and a text
  // expanded with it as ExpandEnvironmentStringsW does: "%NAME%" replaced by the value of a
  // set variable, anything else left as written.
  std::map<std::u16string, std::u16string, NoCaseLess> environment;
  std::u16string Expand(std::u16string_view text) const;

 private:
  std::map<std::u16string, SimFolder, NoCaseLess> folders_;
};

// A path without its trailing backslashes.
std::u16string_view WithoutTrailingSlash(std::u16string_view path);

}  // namespace sim
