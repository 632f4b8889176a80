// A watch of the links the operating system does not announce. A team member is bound only to
// the teaming driver, not to TCP/IP, so NotifyIpInterfaceChange, which reports IP interfaces,
// says nothing when its cable is pulled; and the team interface stays connected while one
// member is left (its IP interface row carries no speed, so nothing of it changes either).
// Between slices of its wait the collection thread asks GetIfEntry2 for the MediaConnectState
// of those rows, which NDIS keeps as the miniport last indicated it; an answer that differs
// from the last one runs the ordinary pass, under the same one-second limit as an announced
// change, so a member's pull is trapped within about a quarter of a second.
//
// Which rows: the team members' own rows while the interface change watch is live; every
// managed port's own row as well when it is not (registration failed, or a stack that never
// calls back), so that every link change still reaches a pass within the same time.
//
// (The NDIS status events WMI publishes in root\wmi, MSNdis_StatusMediaConnect and
// MSNdis_StatusMediaDisconnect, would announce the same per adapter, but need an event query,
// a COM sink on another apartment thread and the WMI service, which is late at boot and may
// not answer at all; the question asked here costs one call per watched row.)
//
// ImmediateUpdates = 0 switches this watch off with the interface change watch. When
// GetIfEntry2 fails for a reason other than a row that has gone, the watch ends with one
// report and those links wait for the poll, as before.
#pragma once

#include <cstdint>

namespace crv {

class CIFList;

class CLinkStateWatch {
 public:
  // Virtual milliseconds between two looks while the collection thread waits.
  static constexpr uint32_t kPeriodMs = 250;

  CLinkStateWatch() = default;
  CLinkStateWatch(const CLinkStateWatch&) = delete;
  CLinkStateWatch& operator=(const CLinkStateWatch&) = delete;
  ~CLinkStateWatch() { Stop(); }

  // On unless ImmediateUpdates switched the immediate passes off.
  void Start(bool on) { on_ = on; }
  // Takes the rows to watch from a model just built: the team members' rows, and with
  // allPorts every port's own row. A row watched before keeps its last answer; a new one is
  // asked now.
  void Arm(const CIFList& list, bool allPorts);
  // Whether looking is worth a slice of the wait.
  bool Active() const { return on_ && count_ != 0; }
  // Asks every watched row; true when one's state differs from the last answer (a row that
  // has gone counts once).
  bool Changed();
  void Stop();

 private:
  struct Watched {
    uint32_t interfaceIndex;
    uint32_t state;  // the last MediaConnectState, or kGone
  };
  static constexpr uint32_t kGone = 0xFFFFFFFFu;
  // The row's state now: a MediaConnectState, kGone, or false when the call failed.
  bool Ask(uint32_t interfaceIndex, uint32_t* state);
  void Add(Watched* rows, uint32_t* count, uint32_t interfaceIndex);

  Watched* rows_ = nullptr;
  uint32_t count_ = 0;
  bool on_ = false;
};

}  // namespace crv
