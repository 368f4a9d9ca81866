#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "debuglink/ws32lib.h"
#include "testsupport.h"

namespace {

class Ws32LibTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, WS32LIB_GetLoadCount()) << "a test left Winsock loaded"; }
    void TearDown() override {
        while (WS32LIB_GetLoadCount() > 0) WS32LIB_UnloadDLL();
    }
};

SOCKET WINAPI MarkerSocket(int, int, int) { return INVALID_SOCKET; }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST_F(Ws32LibTest, LoadsAreCountedAndTheLastUnloadFrees) {
    EXPECT_EQ(0, WS32LIB_IsLoadDLL());
    EXPECT_EQ(nullptr, WS32LIB_GetDLLHandle());
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    HMODULE first = WS32LIB_GetDLLHandle();
    ASSERT_NE(nullptr, first);
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    EXPECT_EQ(2u, WS32LIB_GetLoadCount());
    WS32LIB_UnloadDLL();
    EXPECT_EQ(1u, WS32LIB_GetLoadCount());
    EXPECT_EQ(1, WS32LIB_IsLoadDLL());
    EXPECT_EQ(first, WS32LIB_GetDLLHandle());
    WS32LIB_UnloadDLL();
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    EXPECT_EQ(0, WS32LIB_IsLoadDLL());
    EXPECT_EQ(nullptr, WS32LIB_GetDLLHandle());
    // An unload too many keeps the count at 0 rather than wrapping round.
    WS32LIB_UnloadDLL();
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    EXPECT_EQ(0, WS32LIB_IsLoadDLL());
}

TEST_F(Ws32LibTest, EveryEntryResolvesAndWorks) {
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    const void* const* table = reinterpret_cast<const void* const*>(&WS32LIB);
    for (size_t n = 0; n < sizeof WS32LIB / sizeof(void*); ++n) EXPECT_NE(nullptr, table[n]) << n;
    EXPECT_EQ(0x3412, WS32LIB.htons(0x1234));
    EXPECT_EQ(0x1234, WS32LIB.ntohs(0x3412));
    EXPECT_EQ(0x0100007Fu, WS32LIB.inet_addr("127.0.0.1"));
}

TEST_F(Ws32LibTest, ALoadWhileLoadedResolvesNothingAgain) {
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    auto saved = WS32LIB.socket;
    WS32LIB.socket = MarkerSocket;
    EXPECT_EQ(0, WS32LIB_LoadDLL());
    EXPECT_EQ(&MarkerSocket, WS32LIB.socket);
    WS32LIB.socket = saved;
}

TEST_F(Ws32LibTest, AMissingLibraryFailsAndLeavesItUnloaded) {
    EXPECT_EQ(-1, WS32LIB_LoadLibrary("GLIMNOSUCH.DLL"));
    EXPECT_EQ(0, WS32LIB_IsLoadDLL());
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    EXPECT_EQ(nullptr, WS32LIB_GetDLLHandle());
    EXPECT_EQ(0, WS32LIB_LoadDLL());
    EXPECT_EQ(1u, WS32LIB_GetLoadCount());
}

TEST_F(Ws32LibTest, AMissingEntryFailsAndTheNextLoadStartsOver) {
    // The system's KERNEL32.DLL loads but has none of the socket entries.
    EXPECT_EQ(-1, WS32LIB_LoadLibrary("KERNEL32.DLL"));
    EXPECT_EQ(0, WS32LIB_IsLoadDLL());
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    EXPECT_EQ(GetModuleHandleA("KERNEL32.DLL"), WS32LIB_GetDLLHandle());
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    EXPECT_EQ(1u, WS32LIB_GetLoadCount());
    EXPECT_EQ(GetModuleHandleA("WSOCK32.DLL"), WS32LIB_GetDLLHandle());
}

TEST_F(Ws32LibTest, ComesFromTheSystemDirectory) {
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    char loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameA(WS32LIB_GetDLLHandle(), loaded, MAX_PATH));
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    EXPECT_EQ(Lower(std::string(system) + "\\wsock32.dll"), Lower(loaded));
    WS32LIB_UnloadDLL();

    // A library that lies only beside this program (a copy of the simulated
    // driver under a name of its own) is never found there.
    const std::string beside = testsupport::BinPath("GLIMBESIDE.DLL");
    ASSERT_TRUE(testsupport::CopyTo(testsupport::BinPath(TEST_DRIVER), beside));
    EXPECT_EQ(-1, WS32LIB_LoadLibrary("GLIMBESIDE.DLL"));
    EXPECT_EQ(nullptr, WS32LIB_GetDLLHandle());
    HMODULE planted = GetModuleHandleA(beside.c_str());
    EXPECT_EQ(nullptr, planted);
    if (planted) FreeLibrary(planted);
    DeleteFileA(beside.c_str());
}
