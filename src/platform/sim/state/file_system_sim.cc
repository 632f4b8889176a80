#include "platform/sim/state/file_system_sim.h"

#include <cstdlib>

namespace sim {
namespace {

void PutWord(std::vector<uint8_t>& bytes, size_t at, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::u16string_view WithoutTrailingSlash(std::u16string_view path) {
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  return path;
}

SimFileSystem::SimFileSystem() {
  environment = {{u"SystemDrive", u"C:"},
                 {u"SystemRoot", u"C:\\Windows"},
                 {u"windir", u"C:\\Windows"},
                 {u"ProgramFiles", u"C:\\Program Files"},
                 {u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
                 {u"ProgramData", u"C:\\ProgramData"}};
}

SimFolder& SimFileSystem::AddFolder(std::u16string_view path) {
  auto [it, added] = folders_.try_emplace(std::u16string(WithoutTrailingSlash(path)));
  if (added) {
    it->second.dacl = {
        {0, kAceObjectAndContainerInherit, kFileAllAccess, kSidSystem},
        {0, kAceObjectAndContainerInherit, kFileAllAccess, kSidAdministrators},
        {0, kAceObjectAndContainerInherit, kFileAllAccess, kSidTrustedInstaller},
        {0, kAceObjectAndContainerInherit, kFileReadAndExecute, kSidUsers},
        {0, kAceObjectAndContainerInherit | kAceInheritOnly, kGenericAll, kSidCreatorOwner}};
  }
  return it->second;
}

const SimFolder* SimFileSystem::FindFolder(std::u16string_view path) const {
  auto it = folders_.find(std::u16string(WithoutTrailingSlash(path)));
  return it == folders_.end() ? nullptr : &it->second;
}

bool SimFileSystem::HasFile(std::u16string_view path) const {
  size_t cut = path.rfind(u'\\');
  if (cut == std::u16string_view::npos) return false;
  const SimFolder* folder = FindFolder(path.substr(0, cut));
  return folder != nullptr && folder->files.count(std::u16string(path.substr(cut + 1))) != 0;
}

namespace {

// The folder and the name of a full path; an empty name when there is no backslash.
std::pair<std::u16string_view, std::u16string> SplitPath(std::u16string_view path) {
  size_t cut = path.rfind(u'\\');
  if (cut == std::u16string_view::npos) return {path, {}};
  return {path.substr(0, cut), std::u16string(path.substr(cut + 1))};
}

}  // namespace

SimFileData* SimFileSystem::FileData(std::u16string_view path, bool create) {
  auto [folderPath, name] = SplitPath(path);
  auto folder = folders_.find(std::u16string(WithoutTrailingSlash(folderPath)));
  if (name.empty() || folder == folders_.end()) return nullptr;
  SimFolder& f = folder->second;
  if (f.files.count(name) == 0) {
    if (!create) return nullptr;
    f.files.insert(name);
  }
  return &f.contents[name];
}

bool SimFileSystem::RemoveFile(std::u16string_view path) {
  auto [folderPath, name] = SplitPath(path);
  auto folder = folders_.find(std::u16string(WithoutTrailingSlash(folderPath)));
  if (folder == folders_.end() || folder->second.files.erase(name) == 0) return false;
  folder->second.contents.erase(name);
  return true;
}

void SimFileSystem::PlantLink(std::u16string_view path, std::u16string_view target) {
  SimFileData* data = FileData(path, true);
  if (data != nullptr) *data = SimFileData{{}, std::u16string(target)};
}

std::vector<std::u16string> SimFileSystem::FileNames(std::u16string_view folder) const {
  const SimFolder* f = FindFolder(folder);
  if (f == nullptr) return {};
  return {f->files.begin(), f->files.end()};
}

std::vector<uint8_t> SimFileSystem::SidBytes(std::string_view text) {
  if (text.substr(0, 4) != "S-1-") return {};
  std::vector<uint64_t> parts;
  std::string rest(text.substr(4));
  size_t at = 0;
  while (at <= rest.size()) {
    size_t end = rest.find('-', at);
    std::string part = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return {};
    parts.push_back(std::strtoull(part.c_str(), nullptr, 10));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (parts.empty() || parts.size() > 16 || parts[0] > 0xFFFFFFFFFFFFull) return {};
  std::vector<uint8_t> sid(8 + 4 * (parts.size() - 1));
  sid[0] = 1;
  sid[1] = static_cast<uint8_t>(parts.size() - 1);
  for (size_t i = 0; i < 6; ++i) sid[2 + i] = static_cast<uint8_t>(parts[0] >> (8 * (5 - i)));
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] > 0xFFFFFFFFu) return {};
    PutWord(sid, 8 + 4 * (i - 1), static_cast<uint32_t>(parts[i]), 4);
  }
  return sid;
}

std::vector<uint8_t> SimFileSystem::AclBytes(const std::vector<SimAce>& dacl) {
  std::vector<uint8_t> acl(8);
  acl[0] = 2;  // ACL_REVISION
  for (const SimAce& ace : dacl) {
    std::vector<uint8_t> sid = SidBytes(ace.sid);
    if (sid.empty()) std::abort();
    size_t at = acl.size();
    acl.resize(at + 8 + sid.size());
    acl[at] = ace.type;
    acl[at + 1] = ace.flags;
    PutWord(acl, at + 2, static_cast<uint32_t>(8 + sid.size()), 2);
    PutWord(acl, at + 4, ace.mask, 4);
    std::copy(sid.begin(), sid.end(), acl.begin() + static_cast<ptrdiff_t>(at + 8));
  }
  PutWord(acl, 2, static_cast<uint32_t>(acl.size()), 2);
  PutWord(acl, 4, static_cast<uint32_t>(dacl.size()), 2);
  return acl;
}

std::u16string SimFileSystem::Expand(std::u16string_view text) const {
  std::u16string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t open = text.find(u'%', at);
    size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) break;
    out.append(text.substr(at, open - at));
    auto it = environment.find(std::u16string(text.substr(open + 1, close - open - 1)));
    if (it != environment.end() && close > open + 1) {
      out += it->second;
      at = close + 1;
    } else {
      // Not a set variable: the first '%' stays, and the second may open the next name.
      out += u'%';
      at = open + 1;
    }
  }
  out.append(text.substr(at < text.size() ? at : text.size()));
  return out;
}

}  // namespace sim
