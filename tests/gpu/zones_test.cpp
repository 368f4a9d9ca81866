// Illumination zones through the adapter: what one write leaves in the record
// the driver takes for all zones of a GPU.
#include <gtest/gtest.h>

#include "base/device.h"
#include "gpu/cnvgf.h"
#include "gpu/zones.h"
#include "simnvapi.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;
using testsupport::SimZoneWrite;

namespace {

// The zone lines of the last write, indexed by zone.
std::vector<SimZoneWrite> LastWrite(const SimNvapi& sim) {
    std::vector<SimZoneWrite> all = sim.ZoneWrites();
    std::vector<SimZoneWrite> last;
    for (const SimZoneWrite& w : all) {
        if (w.call == all.back().call) last.push_back(w);
    }
    return last;
}

}  // namespace

TEST(Zones, AWriteLeavesTheOtherZonesAsTheyWere) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).zones = "rgb@top:10,20,30%40 fixed@front%70 rgbw@back:1,2,3,4%50";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 3));
    ASSERT_TRUE(a.SetLuminance(3, 80));
    std::vector<SimZoneWrite> w = LastWrite(sim);
    ASSERT_EQ(3u, w.size()) << "the record carries every zone";
    EXPECT_EQ("manual", w[0].mode);
    EXPECT_EQ("10,20,30", w[0].Field("color"));
    EXPECT_EQ("40", w[0].Field("pct"));
    EXPECT_EQ("80", w[1].Field("pct"));
    EXPECT_EQ("1,2,3,4", w[2].Field("color"));
    EXPECT_EQ("50", w[2].Field("pct"));
    for (const SimZoneWrite& z : w) {
        EXPECT_EQ(0, z.status);
        EXPECT_EQ("0", z.Field("default")) << "the active settings";
    }

    // The next write starts from what the board has now.
    ASSERT_TRUE(a.SetLuminance(2, 250)) << "a zone takes at most 100 %";
    w = LastWrite(sim);
    ASSERT_EQ(3u, w.size());
    EXPECT_EQ("100", w[0].Field("pct"));
    EXPECT_EQ("80", w[1].Field("pct"));
    ASSERT_TRUE(a.SetLuminance(4, static_cast<uint32_t>(-1)));
    EXPECT_EQ("100", LastWrite(sim)[2].Field("pct")) << "negative, taken unsigned";

    EXPECT_FALSE(a.SetLuminance(5, 10)) << "no fourth zone";
    m.Gpu(0, 0).status["GPU_ClientIllumZonesGetControl"] = -104;
    ASSERT_TRUE(sim.Write(m));
    size_t before = sim.ZoneWrites().size();
    EXPECT_FALSE(a.SetLuminance(2, 10));
    EXPECT_EQ(before, sim.ZoneWrites().size()) << "nothing written without the current settings";
}

TEST(Zones, ColourKeptAndColourSetForEachZoneType) {
    const uint32_t orange = MakeDeviceColor(200 | 100 << 8 | 50 << 16);
    struct {
        const char* zone;
        uint32_t color;
        const char* written;
    } cases[] = {
        {"rgb@top:0,128,255%10", 0, "0,128,255"},
        {"rgb@top:0,128,255%10", orange, "200,100,50"},
        {"rgbw@top:0,128,255,77%10", 0, "0,128,255,77"},
        {"rgbw@top:0,128,255,77%10", orange, "200,100,50,77"},  // the white stays
        {"fixed@top%10", 0, "-"},
        {"fixed@top%10", orange, "-"},
        {"single@top%10", orange, "-"},
    };
    SimNvapi sim;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + (c.color ? " with a colour" : ""));
        SimMachine m;
        m.Gpu(0, 0).zones = c.zone;
        ASSERT_TRUE(sim.Write(m));
        EXPECT_EQ(1, SetLuminanceOnce(60, 2, 0, 0, c.color));
        std::vector<SimZoneWrite> w = LastWrite(sim);
        ASSERT_EQ(1u, w.size());
        EXPECT_EQ(0, w[0].status);
        EXPECT_EQ(c.written, w[0].Field("color"));
        EXPECT_EQ("60", w[0].Field("pct"));
    }
}

// Where a two-point program stands: the zone is left there on a pause.
TEST(Zones, WhereATwoPointProgramStands) {
    const ZoneBlink blink = {100, 500, 0, 700};
    const ZoneBlink swapped = {0, 500, 100, 700};
    const struct {
        const ZoneBlink& blink;
        uint64_t ms;
        uint32_t pct;
    } cases[] = {
        {blink, 0, 100},       {blink, 499, 100},      {blink, 500, 0},       {blink, 1199, 0},
        {blink, 1200, 100},    {blink, 1200 * 1000 + 500, 0},                  {swapped, 499, 0},
        {swapped, 500, 100},   {swapped, 2400 + 1199, 100},                    {swapped, 0xFFFFFFFFFFull, 100},
    };
    for (const auto& c : cases) EXPECT_EQ(c.pct, ZoneBlinkBrightnessAt(c.blink, c.ms)) << c.blink.aPct << " " << c.ms;
}
