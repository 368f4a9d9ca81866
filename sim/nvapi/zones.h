// The simulated client illumination: the zones of a GPU, their settings, and
// what the six calls read and write in their records. The entries in
// driver.cpp check arguments, version words and handles first; these
// functions do the rest.
#pragma once

#include <string>
#include <vector>

#include "board.h"
#include "machine.h"
#include "zonerecords.h"

namespace sim {

// "TYPE@LOCATION[:R,G,B[,W]][%PCT][#DEVICE] ..." (type rgb, fixed, rgbw or
// single; location top, front, back, slitop or a number) into `zones`; false,
// with `zones` untouched, when a word cannot be used or there are more than 32.
bool ParseZones(const std::string& text, std::vector<Zone>* zones);
// "TYPE[:MASK] ..." (type mcu, rgbw or single; mask the ctrlModeMask, default
// 3) into `devices`; false, untouched, when a word cannot be used.
bool ParseIllumDevices(const std::string& text, std::vector<IllumDevice>* devices);

// One MCU running both modes behind zones whose devices are not given.
void DefaultIllumDevices(Gpu& gpu);
// `board` as the GPU's configuration starts it: both control sets of its
// zones, its devices unsynchronised, the legacy LEDs at LEGACY_START.
void ResetBoard(const Gpu& gpu, uint32_t display, uint32_t index, BoardState* board);

void FillDeviceInfo(const Gpu& gpu, IllumDeviceInfoParams* params);
Status FillDeviceControl(const Gpu& gpu, IllumDeviceControlParams* params);
Status ApplyDeviceControl(Gpu& gpu, const IllumDeviceControlParams& params);
void FillZoneInfo(const Gpu& gpu, ZoneInfoParams* params);
// bDefault chooses the set, for reading and for writing alike.
Status FillZoneControl(const Gpu& gpu, ZoneControlParams* params);
Status ApplyZoneControl(Gpu& gpu, const ZoneControlParams& params);

// How the zone log shows one entry: "MODE type=.. color=.. pct=.." and, for
// a piecewise-linear program, its timing.
std::string DescribeZoneEntry(const ZoneControl& entry);

}  // namespace sim
