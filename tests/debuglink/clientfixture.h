// A fixture that brings Winsock up through the binding as the main window
// does, with one client of its own; torn down through the client's Shutdown.
#pragma once

#include <gtest/gtest.h>

#include "debuglink/glpcli.h"
#include "debuglink/ws32lib.h"

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, WS32LIB_GetLoadCount()) << "a test left Winsock loaded";
        ASSERT_EQ(0, WS32LIB_LoadDLL());
        ASSERT_EQ(0, WS32LIB.WSAStartup(0x0002, &GlpWsaData));
    }
    void TearDown() override {
        client.Shutdown();
        EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    }
    CGLPCLI client;
};

// Milliseconds since `start` (QueryPerformanceCounter).
inline double MsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

inline LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}
