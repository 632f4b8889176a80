#include "platform/sim/state/network_sim.h"

#include <algorithm>
#include <cstdio>

namespace sim {

bool SimNetwork::Remove(uint32_t index) {
  auto it = std::find_if(interfaces_.begin(), interfaces_.end(),
                         [&](const SimInterface& i) { return i.row.dwIndex == index; });
  if (it == interfaces_.end()) return false;
  interfaces_.erase(it);
  return true;
}

void SimNetwork::RemoveFiltersOf(std::u16string_view adapterGuid) {
  std::erase_if(interfaces_, [&](const SimInterface& i) {
    return i.filter && i.filteredAdapter == adapterGuid;
  });
}

uint32_t SimNetwork::RemoveAdapterRows(uint32_t index, std::u16string_view adapterGuid) {
  uint32_t highest = kFirstSystemIndex - 1;
  bool indexRemoved = false;
  auto kept = interfaces_.begin();
  for (auto it = interfaces_.begin(); it != interfaces_.end(); ++it) {
    if (!indexRemoved && it->row.dwIndex == index) {
      indexRemoved = true;  // only the first row of the index, as Remove
      continue;
    }
    if (it->filter && it->filteredAdapter == adapterGuid) continue;
    highest = std::max(highest, it->row.dwIndex);
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  interfaces_.erase(kept, interfaces_.end());
  return highest;
}

uint32_t SimNetwork::UnusedIndex() const {
  uint32_t highest = kFirstSystemIndex - 1;
  for (const auto& i : interfaces_) highest = std::max(highest, i.row.dwIndex);
  return highest + 1;
}

SimInterface* SimNetwork::Find(uint32_t index) {
  auto it = positions_.find(index);
  if (it == positions_.end() || it->second >= interfaces_.size() ||
      interfaces_[it->second].row.dwIndex != index) {
    // Added, removed or edited since the positions were taken (or not there at all).
    TakePositions();
    it = positions_.find(index);
    if (it == positions_.end()) return nullptr;
  }
  return &interfaces_[it->second];
}

void SimNetwork::TakePositions() {
  positions_.clear();
  for (size_t i = 0; i < interfaces_.size(); ++i) {
    positions_.emplace(interfaces_[i].row.dwIndex, i);  // the first of an index wins
  }
}

std::vector<platform::MibIfRow> SimNetwork::Rows(bool sorted) const {
  std::vector<platform::MibIfRow> rows;
  for (const auto& interface : interfaces_) rows.push_back(interface.row);
  if (sorted) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.dwIndex < b.dwIndex; });
  }
  return rows;
}

std::vector<platform::MibIpAddrRow> SimNetwork::AddressRows(bool sorted) const {
  std::vector<platform::MibIpAddrRow> rows;
  for (const auto& interface : interfaces_) {
    for (const auto& address : interface.ipv4) {
      platform::MibIpAddrRow row{};
      row.dwAddr = address.address;
      row.dwIndex = interface.row.dwIndex;
      row.dwMask = address.mask;
      row.dwBCastAddr = 1;
      row.dwReasmSize = 65535;
      row.wType = 1;  // MIB_IPADDR_PRIMARY
      rows.push_back(row);
    }
  }
  if (sorted) {
    auto hostOrder = [](uint32_t a) {
      return (a >> 24) | ((a >> 8) & 0xFF00) | ((a << 8) & 0xFF0000) | (a << 24);
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
      return hostOrder(a.dwAddr) < hostOrder(b.dwAddr);
    });
  }
  return rows;
}

bool ParseMacAddress(const std::string& text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (i + 2 > text.size() || !isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
    if (i < text.size()) {
      if (text[i] != '-' && text[i] != ':') return false;
      ++i;
      if (i == text.size()) return false;
    }
  }
  return !bytes->empty() && bytes->size() <= platform::kMaxPhysAddrLength;
}

bool ParseIpv4(const std::u16string& text, uint32_t* address) {
  uint32_t parts[4];
  size_t part = 0, i = 0;
  while (part < 4) {
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
    uint32_t value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      value = value * 10 + (text[i] - u'0');
      if (++digits > 3 || value > 255) return false;
      ++i;
    }
    parts[part++] = value;
    if (part < 4) {
      if (i >= text.size() || text[i] != u'.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  // Network byte order in memory: first part in the lowest byte on a little-endian machine.
  *address = parts[0] | (parts[1] << 8) | (parts[2] << 16) | (parts[3] << 24);
  return true;
}

bool ParseIpv6(const std::u16string& full, uint8_t bytes[16], uint32_t* scope) {
  std::u16string text = full;
  *scope = 0;
  size_t percent = text.find(u'%');
  if (percent != std::u16string::npos) {
    std::u16string scopeText = text.substr(percent + 1);
    if (scopeText.empty() || scopeText.size() > 9) return false;
    for (char16_t c : scopeText) {
      if (c < u'0' || c > u'9') return false;
      *scope = *scope * 10 + (c - u'0');
    }
    text = text.substr(0, percent);
  }
  std::vector<uint16_t> head, tail;
  bool seenGap = false;
  size_t i = 0;
  if (text.rfind(u"::", 0) == 0) {
    seenGap = true;
    i = 2;
  }
  while (i < text.size()) {
    uint32_t group = 0;
    size_t digits = 0;
    while (i < text.size() && digits < 5 && isxdigit(text[i] < 128 ? text[i] : 0)) {
      char c = static_cast<char>(text[i]);
      group = group * 16 + static_cast<uint32_t>(isdigit(c) ? c - '0' : (tolower(c) - 'a' + 10));
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 4) return false;
    (seenGap ? tail : head).push_back(static_cast<uint16_t>(group));
    if (i == text.size()) break;
    if (text[i] != u':') return false;
    ++i;
    if (i < text.size() && text[i] == u':') {
      if (seenGap) return false;
      seenGap = true;
      ++i;
    } else if (i == text.size()) {
      return false;
    }
  }
  size_t groups = head.size() + tail.size();
  if ((seenGap && groups > 7) || (!seenGap && groups != 8)) return false;
  std::vector<uint16_t> all = head;
  all.resize(8 - tail.size(), 0);
  all.insert(all.end(), tail.begin(), tail.end());
  for (size_t g = 0; g < 8; ++g) {
    bytes[2 * g] = static_cast<uint8_t>(all[g] >> 8);
    bytes[2 * g + 1] = static_cast<uint8_t>(all[g]);
  }
  return true;
}

std::u16string FormatIpv6(const uint8_t bytes[16], uint32_t scope) {
  uint16_t groups[8];
  for (int g = 0; g < 8; ++g)
    groups[g] = static_cast<uint16_t>((bytes[2 * g] << 8) | bytes[2 * g + 1]);
  // The longest run of two or more zero groups is written as "::" (the first such run).
  int bestStart = -1, bestLength = 1;
  for (int g = 0; g < 8;) {
    if (groups[g] != 0) {
      ++g;
      continue;
    }
    int start = g;
    while (g < 8 && groups[g] == 0) ++g;
    if (g - start > bestLength) {
      bestStart = start;
      bestLength = g - start;
    }
  }
  std::string out;
  for (int g = 0; g < 8; ++g) {
    if (g == bestStart) {
      out += "::";
      g += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ":";
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", groups[g]);
    out += hex;
  }
  if (scope != 0) out += "%" + std::to_string(scope);
  return std::u16string(out.begin(), out.end());
}

}  // namespace sim
