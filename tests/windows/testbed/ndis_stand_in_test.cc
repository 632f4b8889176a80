// The stand-in NDIS driver as the agent meets it, loaded by Wine's winedevice.exe in place of
// Wine's ndis.sys, inside the namespace in-netns.sh makes (veth0 and veth1 up, a pair, so both
// have carrier; tap0 up with no program behind it, so none). The answers come from the Linux
// interfaces, the buffer and error rules from a miniport's: sizes, a short buffer, an OID the
// driver does not know, a malformed request; and a device for an interface added later. Run by
// ndis-stand-in-run.sh (ctest's crv_windows_testbed_ndis_stand_in) with WINEDLLOVERRIDES naming
// ndis.sys=n,b and the driver installed by with-wine.sh.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kQueryGlobalStats = 0x00170002;
constexpr DWORD kMediaConnectStatus = 0x00010114;
constexpr DWORD kLinkSpeed = 0x00010107;
constexpr DWORD kLinkState = 0x00010207;
constexpr DWORD kMediaDuplexState = 0x0001028C;
constexpr DWORD kCurrentAddress = 0x01010102;
constexpr DWORD kXmitOk = 0x00020101;
constexpr DWORD kRcvOk = 0x00020102;
constexpr DWORD kPrivateDeviceName = 0xFF0201A9;

// The device name Wine gives the interface Linux calls name, and its MAC.
struct Interface {
  std::wstring device;
  BYTE mac[6] = {};
};

Interface Find(const wchar_t* name) {
  Interface found;
  MIB_IF_TABLE2* table = nullptr;
  if (GetIfTable2(&table) != NO_ERROR) return found;
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IF_ROW2& row = table->Table[i];
    if (std::wstring(row.Description) != name) continue;
    wchar_t guid[64];
    StringFromGUID2(row.InterfaceGuid, guid, 64);
    found.device = std::wstring(L"\\\\.\\") + guid;
    std::memcpy(found.mac, row.PhysicalAddress, sizeof found.mac);
  }
  FreeMibTable(table);
  return found;
}

struct Reply {
  bool ok = false;
  DWORD error = 0;
  DWORD returned = 0;
  BYTE bytes[64] = {};
  DWORD Word(size_t offset = 0) const {
    DWORD w;
    std::memcpy(&w, bytes + offset, sizeof w);
    return w;
  }
  ULONG64 Quad(size_t offset = 0) const {
    ULONG64 q;
    std::memcpy(&q, bytes + offset, sizeof q);
    return q;
  }
};

// One request on a fresh handle, as the agent makes it; the output buffer starts as 0xEE so
// that bytes written on a failure show.
Reply Ask(const std::wstring& device, DWORD oid, DWORD outputSize, DWORD inputSize = 4,
          DWORD code = kQueryGlobalStats) {
  Reply reply;
  std::memset(reply.bytes, 0xEE, sizeof reply.bytes);
  HANDLE h = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reply.error = GetLastError();
    ADD_FAILURE() << "cannot open " << std::string(device.begin(), device.end()) << ": "
                  << reply.error;
    return reply;
  }
  BYTE input[8] = {};
  std::memcpy(input, &oid, sizeof oid);
  reply.ok = DeviceIoControl(h, code, input, inputSize, reply.bytes, outputSize, &reply.returned,
                             nullptr) != FALSE;
  if (!reply.ok) reply.error = GetLastError();
  CloseHandle(h);
  return reply;
}

class NdisStandInTest : public testing::Test {
 protected:
  void SetUp() override {
    veth0_ = Find(L"veth0");
    veth1_ = Find(L"veth1");
    tap0_ = Find(L"tap0");
    ASSERT_FALSE(veth0_.device.empty() || veth1_.device.empty() || tap0_.device.empty())
        << "not in in-netns.sh's namespace";
  }
  Interface veth0_, veth1_, tap0_;
};

// Link, speed and duplex as Linux has them: a veth pair is 10 Gb/s full duplex with carrier;
// a tap without its program has none.
TEST_F(NdisStandInTest, LinkSpeedAndDuplexAreTheLinuxInterfaces) {
  Reply r = Ask(veth1_.device, kMediaConnectStatus, 4);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.returned, 4u);
  EXPECT_EQ(r.Word(), 0u);  // NdisMediaStateConnected
  r = Ask(tap0_.device, kMediaConnectStatus, 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.returned, 4u);
  EXPECT_EQ(r.Word(), 1u);  // NdisMediaStateDisconnected

  r = Ask(veth1_.device, kLinkSpeed, 4);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.Word(), 10000u * 10000u);  // 10,000 Mb/s in units of 100 bit/s
  r = Ask(veth0_.device, kMediaDuplexState, 4);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.Word(), 2u);  // MediaDuplexStateFull

  // NDIS_LINK_STATE: header (default object, revision 1, 40 bytes), connect state, duplex,
  // speeds in bit/s.
  r = Ask(veth1_.device, kLinkState, 40);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.returned, 40u);
  EXPECT_EQ(r.Word(0), 0x00280180u);
  EXPECT_EQ(r.Word(4), 1u);
  EXPECT_EQ(r.Word(8), 2u);
  EXPECT_EQ(r.Quad(16), 10000000000ull);
  EXPECT_EQ(r.Quad(24), 10000000000ull);
  r = Ask(tap0_.device, kLinkState, 48);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.returned, 40u);
  EXPECT_EQ(r.Word(4), 2u);  // MediaConnectStateDisconnected
}

// A datagram sent to 10.77.0.2 leaves by veth0 and arrives on veth1: the frame counters move.
TEST_F(NdisStandInTest, FrameCountersFollowTraffic) {
  Reply sentBefore = Ask(veth0_.device, kXmitOk, 8);
  Reply receivedBefore = Ask(veth1_.device, kRcvOk, 8);
  ASSERT_TRUE(sentBefore.ok && receivedBefore.ok);
  EXPECT_EQ(sentBefore.returned, 8u);

  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(s, INVALID_SOCKET);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(sendto(s, "frame", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
  }
  closesocket(s);
  WSACleanup();

  Reply sentAfter = Ask(veth0_.device, kXmitOk, 8);
  Reply receivedAfter = Ask(veth1_.device, kRcvOk, 8);
  ASSERT_TRUE(sentAfter.ok && receivedAfter.ok);
  EXPECT_GE(sentAfter.Quad() - sentBefore.Quad(), 3u);
  EXPECT_GE(receivedAfter.Quad() - receivedBefore.Quad(), 3u);
  // A 4-byte buffer takes the low half of the 64-bit count.
  Reply low = Ask(veth0_.device, kXmitOk, 4);
  ASSERT_TRUE(low.ok) << low.error;
  EXPECT_EQ(low.returned, 4u);
  EXPECT_EQ(low.Word(), static_cast<DWORD>(sentAfter.Quad()));
}

// An interface added while the driver runs (ndis-stand-in-run.sh adds it, with the driver
// told to watch): its device comes within the bound and answers like the others.
TEST(NdisStandInLateInterfaceTest, GetsADeviceWhenTheDriverWatches) {
  char name[32] = {};
  if (GetEnvironmentVariableA("CRV_LATE_INTERFACE", name, sizeof name) == 0) {
    GTEST_SKIP() << "run by ndis-stand-in-run.sh after it adds an interface";
  }
  std::wstring wide(name, name + std::strlen(name));
  HANDLE device = INVALID_HANDLE_VALUE;
  Interface late;
  // Sized for a loaded machine: the driver looks twice a second.
  for (int i = 0; i < 1200 && device == INVALID_HANDLE_VALUE; ++i) {
    late = Find(wide.c_str());
    if (!late.device.empty()) {
      device = CreateFileW(late.device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    if (device == INVALID_HANDLE_VALUE) Sleep(100);
  }
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << name << " has no device after 120 s";
  CloseHandle(device);
  Reply r = Ask(late.device, kMediaConnectStatus, 4);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.Word(), 1u);  // a tap without its program has no carrier
  r = Ask(late.device, kCurrentAddress, 6);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(std::memcmp(r.bytes, late.mac, 6), 0);
}

// What a miniport and NDIS answer for requests they cannot serve; nothing is written.
TEST_F(NdisStandInTest, ShortBuffersUnknownOidsAndBadRequestsFailAsOnWindows) {
  struct Case {
    DWORD oid, outputSize, inputSize, code, error;
  } cases[] = {
      {kLinkState, 39, 4, kQueryGlobalStats, ERROR_INSUFFICIENT_BUFFER},
      {kCurrentAddress, 5, 4, kQueryGlobalStats, ERROR_INSUFFICIENT_BUFFER},
      {kMediaConnectStatus, 3, 4, kQueryGlobalStats, ERROR_INSUFFICIENT_BUFFER},
      {kXmitOk, 3, 4, kQueryGlobalStats, ERROR_INSUFFICIENT_BUFFER},
      {kMediaConnectStatus, 0, 4, kQueryGlobalStats, ERROR_INSUFFICIENT_BUFFER},
      {kPrivateDeviceName, 64, 4, kQueryGlobalStats, ERROR_NOT_SUPPORTED},
      {0x00010101, 64, 4, kQueryGlobalStats, ERROR_NOT_SUPPORTED},  // OID_GEN_SUPPORTED_LIST
      {kMediaConnectStatus, 4, 2, kQueryGlobalStats, ERROR_INVALID_PARAMETER},
      {kMediaConnectStatus, 4, 8, kQueryGlobalStats, ERROR_INVALID_PARAMETER},
      {kMediaConnectStatus, 4, 4, 0x00170006, ERROR_INVALID_FUNCTION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "oid " << c.oid << " size " << std::dec
                                    << c.outputSize << " input " << c.inputSize);
    Reply r = Ask(veth1_.device, c.oid, c.outputSize, c.inputSize, c.code);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.returned, 0u);
    EXPECT_EQ(r.bytes[0], 0xEE);
  }
}

}  // namespace
