#include "zones.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

struct Name {
    const char* text;
    uint32_t value;
};
const Name ZONE_TYPES[] = {
    {"rgb", ZONE_TYPE_RGB}, {"fixed", ZONE_TYPE_COLOR_FIXED}, {"rgbw", ZONE_TYPE_RGBW}, {"single", ZONE_TYPE_SINGLE_COLOR}};
const Name LOCATIONS[] = {{"top", 0x00}, {"front", 0x08}, {"back", 0x0C}, {"slitop", 0x20}};
const Name DEVICE_TYPES[] = {
    {"mcu", DEVICE_TYPE_MCUV10}, {"rgbw", DEVICE_TYPE_GPIO_PWM_RGBW}, {"single", DEVICE_TYPE_GPIO_PWM_SINGLE_COLOR}};

template <size_t N>
bool Lookup(const Name (&names)[N], const std::string& text, uint32_t* value) {
    for (const Name& n : names) {
        if (text == n.text) {
            *value = n.value;
            return true;
        }
    }
    return false;
}

const char* TypeName(uint32_t type) {
    for (const Name& n : ZONE_TYPES) {
        if (n.value == type) return n.text;
    }
    return "?";
}

bool Number(const std::string& text, uint32_t max, uint32_t* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool HasColor(uint32_t type) { return type == ZONE_TYPE_RGB || type == ZONE_TYPE_RGBW; }

// "TYPE@LOCATION[:R,G,B[,W]][%PCT][#DEVICE]"
bool ParseZone(const std::string& word, Zone* zone) {
    size_t at = word.find('@');
    if (at == std::string::npos || !Lookup(ZONE_TYPES, word.substr(0, at), &zone->type)) return false;
    std::string rest = word.substr(at + 1);
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        uint32_t v;
        if (!Number(rest.substr(hash + 1), ILLUM_MAX - 1, &v)) return false;
        zone->device = static_cast<uint8_t>(v);
        rest = rest.substr(0, hash);
    }
    size_t pct = rest.find('%');
    if (pct != std::string::npos) {
        uint32_t v;
        if (!Number(rest.substr(pct + 1), 100, &v)) return false;
        zone->brightness = static_cast<uint8_t>(v);
        rest = rest.substr(0, pct);
    }
    size_t colon = rest.find(':');
    std::string where = rest.substr(0, colon);
    if (!Lookup(LOCATIONS, where, &zone->location) && !Number(where, 0xFF, &zone->location)) return false;
    if (colon == std::string::npos) return true;
    if (!HasColor(zone->type)) return false;
    std::istringstream parts(rest.substr(colon + 1));
    std::string part;
    size_t n = 0;
    while (std::getline(parts, part, ',')) {
        uint32_t v;
        if (n == 4 || !Number(part, 255, &v)) return false;
        zone->color[n++] = static_cast<uint8_t>(v);
    }
    return n == 3 || (n == 4 && zone->type == ZONE_TYPE_RGBW);
}

// The brightness fields a mode uses, by zone type: where end point A (the
// manual setting) and B lie, and whether a colour precedes the brightness.
struct Shape {
    uint32_t colorBytes;  // 3 RGB, 4 RGBW, 0 brightness only
    uint32_t endB;
    uint32_t timing;
};
Shape ShapeOf(uint32_t type) {
    switch (type) {
    case ZONE_TYPE_RGB: return {3, ZC_RGB_B, ZC_RGB_TIMING};
    case ZONE_TYPE_RGBW: return {4, ZC_RGBW_B, ZC_RGBW_TIMING};
    default: return {0, ZC_ONE_B, ZC_ONE_TIMING};
    }
}

uint16_t U16(const uint8_t* entry, uint32_t offset) {
    uint16_t v;
    std::memcpy(&v, entry + offset, sizeof v);
    return v;
}
uint32_t U32(const uint8_t* entry, uint32_t offset) {
    uint32_t v;
    std::memcpy(&v, entry + offset, sizeof v);
    return v;
}

ZoneControl Initial(const Zone& zone) {
    ZoneControl c;
    std::memset(&c, 0, sizeof c);
    c.type = zone.type;
    c.ctrlMode = MODE_MANUAL;
    uint8_t* entry = reinterpret_cast<uint8_t*>(&c);
    Shape shape = ShapeOf(zone.type);
    std::memcpy(entry + ZC_MANUAL, zone.color, shape.colorBytes);
    entry[ZC_MANUAL + shape.colorBytes] = zone.brightness;
    return c;
}

bool AllZero(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i]) return false;
    }
    return true;
}

// What a controller refuses in one zone's entry, as a status (ST_OK: none):
// another type than the zone's, a mode its device does not run, brightness
// percentages above 100, a program that never repeats its cycle (group count
// 0), lasts no time or names an unknown cycle type, reserved bytes that are
// not zero.
Status CheckEntry(const ZoneControl& c, const Zone& zone, const std::vector<IllumDevice>& devices) {
    if (c.type != zone.type) return ST_INVALID_ARGUMENT;
    if (c.ctrlMode != MODE_MANUAL && c.ctrlMode != MODE_PIECEWISE_LINEAR) return ST_INVALID_ARGUMENT;
    const uint8_t* entry = reinterpret_cast<const uint8_t*>(&c);
    if (!AllZero(entry + ZC_TYPE_RESERVED, sizeof(ZoneControl) - ZC_TYPE_RESERVED)) return ST_INVALID_ARGUMENT;
    if (zone.device >= devices.size() || !((devices[zone.device].modes >> c.ctrlMode) & 1)) return ST_NOT_SUPPORTED;
    Shape shape = ShapeOf(c.type);
    if (entry[ZC_MANUAL + shape.colorBytes] > 100) return ST_INVALID_ARGUMENT;
    if (c.ctrlMode == MODE_MANUAL) return ST_OK;
    const uint32_t t = shape.timing;
    uint32_t cycle = U32(entry, t + PL_CYCLE);
    uint32_t length = U16(entry, t + PL_RISE) + U16(entry, t + PL_FALL) + U16(entry, t + PL_A) + U16(entry, t + PL_B);
    if (entry[shape.endB + shape.colorBytes] > 100 || cycle > 2 || entry[t + PL_GROUP] == 0 || length == 0)
        return ST_INVALID_ARGUMENT;
    return ST_OK;
}

std::string Color(const uint8_t* point, uint32_t bytes) {
    if (bytes == 0) return "-";
    std::string s;
    for (uint32_t i = 0; i < bytes; ++i) s += (i ? "," : "") + std::to_string(point[i]);
    return s;
}

}  // namespace

bool ParseZones(const std::string& text, std::vector<Zone>* zones) {
    std::vector<Zone> parsed;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        Zone zone;
        if (!ParseZone(word, &zone) || parsed.size() == ILLUM_MAX) return false;
        parsed.push_back(zone);
    }
    *zones = parsed;
    return true;
}

bool ParseIllumDevices(const std::string& text, std::vector<IllumDevice>* devices) {
    std::vector<IllumDevice> parsed;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        IllumDevice device;
        size_t colon = word.find(':');
        if (!Lookup(DEVICE_TYPES, word.substr(0, colon), &device.type) ||
            (colon != std::string::npos && !Number(word.substr(colon + 1), 0xFFFFFFFFu, &device.modes)) ||
            parsed.size() == ILLUM_MAX)
            return false;
        parsed.push_back(device);
    }
    *devices = parsed;
    return true;
}

void DefaultIllumDevices(Gpu& gpu) {
    if (gpu.illumDevices.empty() && !gpu.zones.empty()) gpu.illumDevices.push_back(IllumDevice());
}

void ResetBoard(const Gpu& gpu, uint32_t display, uint32_t index, BoardState* board) {
    std::memset(board, 0, sizeof *board);
    board->display = display;
    board->gpu = index;
    board->zoneCount = static_cast<uint32_t>(gpu.zones.size());
    board->deviceCount = static_cast<uint32_t>(gpu.illumDevices.size());
    for (uint32_t& value : board->legacy) value = LEGACY_START;
    for (size_t z = 0; z < gpu.zones.size(); ++z) board->active[z] = board->defaults[z] = Initial(gpu.zones[z]);
}

void FillDeviceInfo(const Gpu& gpu, IllumDeviceInfoParams* params) {
    params->numIllumDevices = static_cast<uint32_t>(gpu.illumDevices.size());
    for (size_t i = 0; i < gpu.illumDevices.size(); ++i) {
        params->devices[i].type = gpu.illumDevices[i].type;
        params->devices[i].ctrlModeMask = gpu.illumDevices[i].modes;
        params->devices[i].data[0] = static_cast<uint8_t>(i);  // I2C table index or first pin
    }
}

Status FillDeviceControl(const Gpu& gpu, IllumDeviceControlParams* params) {
    if (gpu.illumDevices.empty()) return ST_NOT_SUPPORTED;
    params->numIllumDevices = static_cast<uint32_t>(gpu.illumDevices.size());
    for (size_t i = 0; i < gpu.illumDevices.size(); ++i) {
        params->devices[i].type = gpu.illumDevices[i].type;
        params->devices[i].syncData.bSync = gpu.board->sync[i].bSync;
        params->devices[i].syncData.timeStampms = gpu.board->sync[i].timeStampms;
    }
    return ST_OK;
}

Status ApplyDeviceControl(Gpu& gpu, const IllumDeviceControlParams& params) {
    if (gpu.illumDevices.empty()) return ST_NOT_SUPPORTED;
    if (params.numIllumDevices != gpu.illumDevices.size()) return ST_INVALID_ARGUMENT;
    for (size_t i = 0; i < gpu.illumDevices.size(); ++i) {
        if (params.devices[i].type != gpu.illumDevices[i].type) return ST_INVALID_ARGUMENT;
    }
    for (size_t i = 0; i < gpu.illumDevices.size(); ++i) {
        gpu.board->sync[i].bSync = params.devices[i].syncData.bSync;
        gpu.board->sync[i].timeStampms = params.devices[i].syncData.timeStampms;
    }
    return ST_OK;
}

void FillZoneInfo(const Gpu& gpu, ZoneInfoParams* params) {
    params->numIllumZones = static_cast<uint32_t>(gpu.zones.size());
    for (size_t i = 0; i < gpu.zones.size(); ++i) {
        params->zones[i].type = gpu.zones[i].type;
        params->zones[i].illumDeviceIdx = gpu.zones[i].device;
        params->zones[i].provIdx = static_cast<uint8_t>(i);
        params->zones[i].zoneLocation = gpu.zones[i].location;
    }
}

Status FillZoneControl(const Gpu& gpu, ZoneControlParams* params) {
    if (gpu.zones.empty()) return ST_NOT_SUPPORTED;
    const ZoneControl* set = (params->flags & 1) ? gpu.board->defaults : gpu.board->active;
    params->numIllumZonesControl = static_cast<uint32_t>(gpu.zones.size());
    for (size_t i = 0; i < gpu.zones.size(); ++i) params->zones[i] = set[i];
    return ST_OK;
}

Status ApplyZoneControl(Gpu& gpu, const ZoneControlParams& params) {
    if (gpu.zones.empty()) return ST_NOT_SUPPORTED;
    // The default set is the board's own: a write names the active one, and
    // the flag word's other bits and the reserved bytes are zero.
    if (params.flags != 0 || !AllZero(params.reserved, sizeof params.reserved) ||
        params.numIllumZonesControl > ILLUM_MAX || params.numIllumZonesControl != gpu.zones.size())
        return ST_INVALID_ARGUMENT;
    for (size_t i = 0; i < gpu.zones.size(); ++i) {
        Status st = CheckEntry(params.zones[i], gpu.zones[i], gpu.illumDevices);
        if (st != ST_OK) return st;
    }
    std::copy(params.zones, params.zones + gpu.zones.size(), gpu.board->active);
    return ST_OK;
}

std::string DescribeZoneEntry(const ZoneControl& c) {
    const uint8_t* entry = reinterpret_cast<const uint8_t*>(&c);
    Shape shape = ShapeOf(c.type);
    const uint8_t* a = entry + ZC_MANUAL;
    const uint8_t* b = entry + shape.endB;
    char text[256];
    if (c.ctrlMode != MODE_PIECEWISE_LINEAR) {
        std::snprintf(text, sizeof text, "%s type=%s color=%s pct=%u",
                      c.ctrlMode == MODE_MANUAL ? "manual" : "mode?", TypeName(c.type),
                      Color(a, shape.colorBytes).c_str(), a[shape.colorBytes]);
        return text;
    }
    const uint32_t t = shape.timing;
    std::snprintf(text, sizeof text,
                  "piecewise type=%s color=%s/%s pct=%u/%u cycle=%u grp=%u rise=%u fall=%u a=%u b=%u idle=%u "
                  "phase=%u",
                  TypeName(c.type), Color(a, shape.colorBytes).c_str(), Color(b, shape.colorBytes).c_str(),
                  a[shape.colorBytes], b[shape.colorBytes], U32(entry, t + PL_CYCLE), entry[t + PL_GROUP],
                  U16(entry, t + PL_RISE), U16(entry, t + PL_FALL), U16(entry, t + PL_A), U16(entry, t + PL_B),
                  U16(entry, t + PL_IDLE), U16(entry, t + PL_PHASE));
    return text;
}

}  // namespace sim
