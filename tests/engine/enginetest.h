// A fixture for tests that run the control threads against the simulated
// NVAPI driver: settings at their defaults, control running, everything
// stopped again afterwards.
#pragma once

// The debug-device client needs Winsock declared before windows.h.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/control.h"
#include "glimsim.h"
#include "simnvapi.h"
#include "testsupport.h"

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `machine` for the driver.
    void Use();
    // Device `d` enabled on the given LED with a control method.
    void Enable(int d, int playType, uint32_t display = 0, uint32_t gpu = 0, int32_t attribute = 0);
    // Writes a pattern file and makes it device `d`'s.
    void Pattern(int d, const std::string& text);

    // The sets this process made, oldest first.
    std::vector<testsupport::SimSet> Mine() const;
    bool WaitForMine(size_t count, unsigned timeoutMs) const;
    // Trace lines of this process as (thread id, text).
    std::vector<std::pair<DWORD, std::string>> MyTrace() const;
    size_t CountMyTrace(const std::string& prefix) const;

    testsupport::SimNvapi sim;
    testsupport::SimMachine machine;
    testsupport::TempDir dir;
};

// The simulated debug device, with the program's client (GlpClient) opened
// towards it; the client is shut down again on destruction.
class DebugDeviceLink {
public:
    DebugDeviceLink() = default;
    ~DebugDeviceLink();
    DebugDeviceLink(const DebugDeviceLink&) = delete;
    DebugDeviceLink& operator=(const DebugDeviceLink&) = delete;
    // GLIMSIM.EXE --headless with `args`; true once the client can reach it.
    bool Start(const std::string& args = "");
    // The datagrams of one kind ("query", "notify").
    std::vector<testsupport::GlimsimDatagram> Of(const std::string& what);
    testsupport::Glimsim device;

private:
    bool open_ = false;
};

// Milliseconds the call took.
template <typename F>
double TimeMs(F&& f) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    f();
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Intervals between consecutive sets, in ms.
std::vector<double> Intervals(const std::vector<testsupport::SimSet>& sets);
double Median(std::vector<double> values);
