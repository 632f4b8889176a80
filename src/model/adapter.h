// The base of the two adapter objects: a logical adapter (one per managed interface) and a
// physical adapter (one per port). Each keeps its own copy of the miniport that carries it.
#pragma once

#include <cstdint>

namespace crv {

class CMiniport;

class CAdapter {
 public:
  CAdapter() = default;
  CAdapter(const CAdapter&) = delete;
  CAdapter& operator=(const CAdapter&) = delete;
  // Deletes the miniport copy and frees the description.
  virtual ~CAdapter();

  virtual uint32_t GetPhysAddrLength() const { return physAddrLength_; }
  // Replaces the miniport copy with a new copy of miniport; false (reported) when it cannot
  // be made.
  virtual bool SetMiniport(const CMiniport& miniport);
  // Writes the adapter's own record; nothing for the base.
  virtual uint32_t Publish() { return 0; }
  virtual void SetIfType(uint32_t ifType) { ifType_ = ifType; }
  virtual CMiniport* GetMiniport() const { return miniport_; }

  uint32_t IfType() const { return ifType_; }

 protected:
  uint32_t ifType_ = 0;
  uint32_t physAddrLength_ = 0;
  CMiniport* miniport_ = nullptr;  // owned copy
  uint8_t reservedFlag_ = 1;
  uint64_t reservedValue_ = ~uint64_t{0};
  char16_t* description_ = nullptr;  // owned; a port's driver service name
};

}  // namespace crv
