#include "discovery/lbfo_teams.h"

#include <cstring>

#include "common/alloc.h"
#include "common/bounded_text.h"
#include "common/list_index.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/miniport.h"
#include "discovery/miniport_list.h"
#include "platform/platform.h"
#include "platform/scoped.h"

namespace crv {
namespace {

using platform::ComObject;
using platform::ComWmi;
using platform::ScopedComObject;
using platform::Variant;

constexpr char16_t kNamespace[] = u"\\\\.\\root\\StandardCimv2";
constexpr uint32_t kNextTimeoutMs = 5000;
// WBEM_S_TIMEDOUT only says "nothing yet" (a provider still loading at boot): the read waits
// on, up to this much over its four classes, and is then given up until the next cycle.
constexpr uint32_t kReadBudgetMs = 30000;
constexpr size_t kNameChars = 257;
// The bounds of one answer (lbfo_teams.h); an object beyond them is left out and reported.
constexpr uint32_t kMaxTeams = kLbfoMaxTeams;
constexpr uint32_t kMaxMembers = kLbfoMaxMembers;
constexpr uint32_t kMaxTeamNics = kLbfoMaxTeamNics;
// The adapters kept are those a member or team interface names.
constexpr uint32_t kMaxAdapters = kMaxMembers + kMaxTeamNics;
constexpr uint32_t kMaxVlanId = 4094;

struct NamedGuid {
  char16_t name[kNameChars];
  char16_t guid[platform::kGuidTextChars];
};
struct Team {
  char16_t name[kNameChars];
  uint32_t index;
  uint32_t members;
  uint32_t presentTeamNics;
  bool standby;
  bool unfit;
};
struct Member {
  char16_t name[kNameChars];
  char16_t team[kNameChars];
  uint32_t administrativeMode;
};
struct TeamNic {
  char16_t name[kNameChars];
  char16_t team[kNameChars];
  uint32_t vlanId;
  bool isDefault;
};

// Everything one read gathers, in one block.
struct LbfoAnswer {
  NamedGuid adapters[kMaxAdapters];
  Team teams[kMaxTeams];
  Member members[kMaxMembers];
  TeamNic teamNics[kMaxTeamNics];
  uint32_t adapterCount;
  uint32_t teamCount;
  uint32_t memberCount;
  uint32_t teamNicCount;
  const char16_t* problem;  // the first thing that did not fit, for the report
  uint32_t problems;
};

void Note(LbfoAnswer& answer, const char16_t* problem) {
  if (answer.problem == nullptr) answer.problem = problem;
  ++answer.problems;
}

// A text property into a bounded buffer; false when missing, null or not text.
bool ReadText(ComWmi& wmi, ComObject object, const char16_t* name, char16_t* out, size_t chars) {
  Variant v;
  bool read = wmi.Get(object, name, &v) == 0 && v.type == platform::kVtBstr && v.text != nullptr;
  if (read) {
    size_t length = v.textLength < chars - 1 ? v.textLength : chars - 1;
    for (size_t i = 0; i < length; ++i) out[i] = v.text[i];
    out[length] = 0;
    read = length != 0 && v.textLength < chars;
  }
  wmi.VariantClear(&v);
  return read;
}

// An integer or boolean property; false when missing, null or of another kind.
bool ReadNumber(ComWmi& wmi, ComObject object, const char16_t* name, int64_t* value) {
  Variant v;
  bool read = wmi.Get(object, name, &v) == 0;
  if (read) read = platform::HoldsInteger(v);
  if (read) *value = v.integer;
  wmi.VariantClear(&v);
  return read;
}

// One class's objects, each handed to take (false: the object does not fit). False when the
// class cannot be enumerated to its end.
template <class Take>
bool ReadClass(ComWmi& wmi, ComObject services, const char16_t* className, uint32_t* waitedMs,
               Take take) {
  ScopedComObject enumerator;
  if (wmi.CreateInstanceEnum(services, className,
                             platform::kWbemFlagReturnImmediately | platform::kWbemFlagForwardOnly,
                             enumerator.Receive()) != 0 ||
      !enumerator.Holds()) {
    return false;
  }
  bool complete = wmi.SetProxyBlanket(enumerator.Get(), platform::kRpcCAuthnDefault,
                                      platform::kRpcCAuthzNone, platform::kRpcCAuthnLevelCall,
                                      platform::kRpcCImpLevelImpersonate, platform::kEoacNone) == 0;
  while (complete) {
    ScopedComObject object;
    uint32_t returned = 0;
    platform::HResult hr = wmi.Next(enumerator.Get(), kNextTimeoutMs, object.Receive(), &returned);
    if (hr == platform::kSFalse && returned == 0) break;
    if (hr == platform::kWbemSTimedOut && returned == 0) {
      *waitedMs += kNextTimeoutMs;
      complete = *waitedMs < kReadBudgetMs;
      continue;
    }
    if (hr != 0 || returned != 1 || !object.Holds()) {
      complete = false;
      break;
    }
    take(object.Get());
  }
  return complete;
}

Team* FindTeam(LbfoAnswer& answer, const char16_t* name) {
  for (uint32_t i = 0; i < answer.teamCount; ++i) {
    if (EqualsNoCase(answer.teams[i].name, name)) return &answer.teams[i];
  }
  return nullptr;
}

const char16_t* GuidOf(const LbfoAnswer& answer, const char16_t* adapterName) {
  for (uint32_t i = 0; i < answer.adapterCount; ++i) {
    if (EqualsNoCase(answer.adapters[i].name, adapterName)) return answer.adapters[i].guid;
  }
  return nullptr;
}

// Whether a member or a team interface names the adapter.
bool IsPlaced(const LbfoAnswer& answer, const char16_t* adapterName) {
  for (uint32_t i = 0; i < answer.memberCount; ++i) {
    if (EqualsNoCase(answer.members[i].name, adapterName)) return true;
  }
  for (uint32_t i = 0; i < answer.teamNicCount; ++i) {
    if (EqualsNoCase(answer.teamNics[i].name, adapterName)) return true;
  }
  return false;
}

// The four classes into answer; false when the namespace or a class cannot be read.
bool ReadAnswer(ComWmi& wmi, LbfoAnswer& answer) {
  ScopedComObject locator, services;
  bool read = wmi.CreateWbemLocator(platform::kClsctxAll, locator.Receive()) == 0 &&
              wmi.ConnectServer(locator.Get(), kNamespace, services.Receive()) == 0 &&
              wmi.SetProxyBlanket(services.Get(), platform::kRpcCAuthnDefault,
                                  platform::kRpcCAuthzNone, platform::kRpcCAuthnLevelCall,
                                  platform::kRpcCImpLevelImpersonate, platform::kEoacNone) == 0;
  uint32_t waitedMs = 0;
  read = read && ReadClass(wmi, services.Get(), u"MSFT_NetLbfoTeam", &waitedMs, [&](ComObject o) {
           if (answer.teamCount == kMaxTeams) return Note(answer, u"too many teams");
           Team& t = answer.teams[answer.teamCount];
           int64_t mode = -1;
           if (!ReadText(wmi, o, u"Name", t.name, kNameChars) ||
               !ReadNumber(wmi, o, u"TeamingMode", &mode) || mode < kLbfoModeStatic ||
               mode > kLbfoModeLacp) {
             return Note(answer, u"a team without a name or a known teaming mode");
           }
           if (FindTeam(answer, t.name) != nullptr) return Note(answer, u"a team named twice");
           ++answer.teamCount;
         });
  read = read &&
         ReadClass(wmi, services.Get(), u"MSFT_NetLbfoTeamMember", &waitedMs, [&](ComObject o) {
           if (answer.memberCount == kMaxMembers) return Note(answer, u"too many team members");
           Member& m = answer.members[answer.memberCount];
           int64_t administrative = kLbfoAdminActive;
           if (!ReadText(wmi, o, u"Name", m.name, kNameChars) ||
               !ReadText(wmi, o, u"Team", m.team, kNameChars)) {
             return Note(answer, u"a team member without a name or a team");
           }
           ReadNumber(wmi, o, u"AdministrativeMode", &administrative);
           m.administrativeMode = static_cast<uint32_t>(administrative);
           ++answer.memberCount;
         });
  read =
      read && ReadClass(wmi, services.Get(), u"MSFT_NetLbfoTeamNic", &waitedMs, [&](ComObject o) {
        if (answer.teamNicCount == kMaxTeamNics) return Note(answer, u"too many team interfaces");
        TeamNic& n = answer.teamNics[answer.teamNicCount];
        int64_t vlan = 0, isDefault = 0;
        if (!ReadText(wmi, o, u"Name", n.name, kNameChars) ||
            !ReadText(wmi, o, u"Team", n.team, kNameChars)) {
          return Note(answer, u"a team interface without a name or a team");
        }
        ReadNumber(wmi, o, u"VlanID", &vlan);
        ReadNumber(wmi, o, u"Default", &isDefault);
        n.isDefault = isDefault != 0;
        n.vlanId = vlan < 0 || vlan > 0xFFFF ? 0xFFFFu : static_cast<uint32_t>(vlan);
        ++answer.teamNicCount;
      });
  // Last, as the members and team interfaces name the adapters worth keeping: a server lists
  // every adapter it has here, far more than the teams use.
  read = read && ReadClass(wmi, services.Get(), u"MSFT_NetAdapter", &waitedMs, [&](ComObject o) {
           char16_t name[kNameChars];
           if (!ReadText(wmi, o, u"Name", name, kNameChars) || !IsPlaced(answer, name)) return;
           if (answer.adapterCount == kMaxAdapters) return Note(answer, u"too many adapters");
           NamedGuid& a = answer.adapters[answer.adapterCount];
           if (ReadText(wmi, o, u"InterfaceGuid", a.guid, platform::kGuidTextChars)) {
             std::memcpy(a.name, name, sizeof name);
             ++answer.adapterCount;
           }
         });
  return read;
}

// A team goes plain: the first reason is kept for the report.
void Unfit(LbfoAnswer& answer, Team* team, const char16_t* why) {
  Note(answer, why);
  if (team != nullptr) team->unfit = true;
}

// One stable index per team; two names with one hash: the later team moves on.
void NumberTeams(LbfoAnswer& answer) {
  for (uint32_t i = 0; i < answer.teamCount; ++i) {
    Team& t = answer.teams[i];
    t.index = LbfoTeamIndex(t.name);
    for (bool taken = true; taken;) {
      taken = false;
      for (uint32_t j = 0; j < i; ++j) taken = taken || answer.teams[j].index == t.index;
      if (taken) t.index = t.index + 1 == CMiniport::kNoTeam ? 0 : t.index + 1;
    }
  }
}

// An adapter's place in a team: as member (the first memberCount places) or as team
// interface (the rest).
struct Placement {
  const char16_t* adapter;
  const char16_t* team;
};
Placement PlacementAt(const LbfoAnswer& answer, uint32_t i) {
  if (i < answer.memberCount) return {answer.members[i].name, answer.members[i].team};
  const TeamNic& nic = answer.teamNics[i - answer.memberCount];
  return {nic.name, nic.team};
}

// An adapter named in more than one place fits none of them.
void UnfitAdaptersNamedTwice(LbfoAnswer& answer) {
  const uint32_t places = answer.memberCount + answer.teamNicCount;
  for (uint32_t i = 0; i < places; ++i) {
    Placement one = PlacementAt(answer, i);
    for (uint32_t j = i + 1; j < places; ++j) {
      Placement other = PlacementAt(answer, j);
      if (!EqualsNoCase(one.adapter, other.adapter)) continue;
      Unfit(answer, FindTeam(answer, one.team), u"an adapter named twice in the teams");
      Unfit(answer, FindTeam(answer, other.team), u"an adapter named twice in the teams");
    }
  }
}

// Checks every member and team interface against the teams and the miniports present, and
// numbers the teams.
void CheckAnswer(LbfoAnswer& answer, const CMiniportList& miniports) {
  NumberTeams(answer);
  for (uint32_t i = 0; i < answer.memberCount; ++i) {
    Member& m = answer.members[i];
    Team* team = FindTeam(answer, m.team);
    if (team == nullptr) {
      Note(answer, u"a team member of no team");
      continue;
    }
    ++team->members;
    if (m.administrativeMode == kLbfoAdminStandby) team->standby = true;
    const char16_t* guid = GuidOf(answer, m.name);
    if (guid == nullptr || miniports.FindByGuid(guid) == nullptr) {
      Unfit(answer, team, u"a team member that is no present adapter");
    }
  }
  for (uint32_t i = 0; i < answer.teamNicCount; ++i) {
    TeamNic& n = answer.teamNics[i];
    Team* team = FindTeam(answer, n.team);
    if (team == nullptr) {
      Note(answer, u"a team interface of no team");
      continue;
    }
    if (!n.isDefault && (n.vlanId == 0 || n.vlanId > kMaxVlanId)) {
      Unfit(answer, team, u"a team interface with a VLAN id outside 1-4094");
    }
    const char16_t* guid = GuidOf(answer, n.name);
    if (guid != nullptr && miniports.FindByGuid(guid) != nullptr) ++team->presentTeamNics;
  }
  for (uint32_t i = 0; i < answer.teamCount; ++i) {
    Team& t = answer.teams[i];
    if (t.unfit) continue;
    if (t.members == 0) Unfit(answer, &t, u"a team without members");
    if (t.presentTeamNics == 0) Unfit(answer, &t, u"a team without a team interface");
  }
  UnfitAdaptersNamedTwice(answer);
}

// The fields of the fitting teams into the miniports.
uint32_t Apply(const LbfoAnswer& answer, CMiniportList& miniports) {
  uint32_t applied = 0;
  for (uint32_t i = 0; i < answer.teamCount; ++i) {
    const Team& t = answer.teams[i];
    if (t.unfit) continue;
    ++applied;
    static_assert(kMaxMembers <= 255, "a team's member count is published in one byte");
    auto members = static_cast<uint8_t>(t.members);
    // Every port carries traffic (ports a and b differ) unless the team keeps a port in
    // standby, which makes it a fail-over pair (a and b equal).
    int32_t portB = t.standby ? 1 : 2;
    for (uint32_t m = 0; m < answer.memberCount; ++m) {
      if (!EqualsNoCase(answer.members[m].team, t.name)) continue;
      // Present: a fitting team's members were all found among the miniports.
      CMiniport* miniport = miniports.FindByGuid(GuidOf(answer, answer.members[m].name));
      miniport->SetTeam(kTeamFlagMember, t.index, 0);
      miniport->SetTeamMembers(members, 1, portB);
    }
    for (uint32_t n = 0; n < answer.teamNicCount; ++n) {
      const TeamNic& nic = answer.teamNics[n];
      if (!EqualsNoCase(nic.team, t.name)) continue;
      const char16_t* guid = GuidOf(answer, nic.name);
      CMiniport* miniport = guid != nullptr ? miniports.FindByGuid(guid) : nullptr;
      if (miniport == nullptr) continue;  // a team interface not (yet) present
      miniport->SetTeam(kTeamFlagTeamInterface, t.index, nic.isDefault ? 0 : nic.vlanId);
      miniport->SetTeamMembers(members, 1, portB);
    }
  }
  return applied;
}

// The answer read with COM initialised for the call, and uninitialised again only when the
// initialisation succeeded.
bool ReadAnswerInComApartment(LbfoAnswer& answer) {
  ComWmi& wmi = *platform::Os().wmi;
  platform::HResult com = wmi.CoInitializeEx(platform::kCoinitMultithreaded);
  bool answered = ReadAnswer(wmi, answer);
  if (com >= 0) wmi.CoUninitialize();
  return answered;
}

}  // namespace

bool LbfoTeamsReadable() {
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t lastError = kernel.GetLastError();
  auto* answer = static_cast<LbfoAnswer*>(AllocateZeroed(sizeof(LbfoAnswer)));
  bool answered = answer != nullptr && ReadAnswerInComApartment(*answer);
  FreeBlock(answer);
  kernel.SetLastError(lastError);
  return answered;
}

uint32_t LbfoTeamIndex(const char16_t* teamName) {
  return static_cast<uint32_t>(HashFoldedText(teamName) & 0x7FFFFFFFu);
}

uint32_t ApplyLbfoTeams(CMiniportList& miniports, bool* read) {
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t lastError = kernel.GetLastError();
  auto* answer = static_cast<LbfoAnswer*>(AllocateZeroed(sizeof(LbfoAnswer)));
  if (read != nullptr) *read = false;
  if (answer == nullptr) {
    ReportInfo(u"NIC teaming: no memory to read the teams; every port stays plain",
               kernel.GetLastError());
    return 0;
  }
  bool answered = ReadAnswerInComApartment(*answer);
  if (read != nullptr) *read = answered;
  uint32_t applied = 0;
  if (!answered) {
    ReportInfo(u"NIC teaming: the teams could not be read; every port stays plain", 0);
  } else {
    CheckAnswer(*answer, miniports);
    applied = Apply(*answer, miniports);
    if (answer->problem != nullptr) {
      BoundedText<160> message;
      message.Add(u"NIC teaming: left out of the teams: ").Add(answer->problem);
      ReportInfo(message.Text(), answer->problems);
    }
  }
  FreeBlock(answer);
  kernel.SetLastError(lastError);
  return applied;
}

}  // namespace crv
