// The debug-device client needs Winsock declared before windows.h.
#include <winsock2.h>

#include "gpu/devicesearch.h"

#include <cstdio>

#include "base/debugprint.h"
#include "debuglink/glpcli.h"
#include "gpu/cnvgf.h"

const char* const DEVICE_TEXT_DEBUG = "デバッグデバイス";
const char* const DEVICE_TEXT_UNSUPPORTED = "未サポートデバイス";
const char* const DEVICE_TEXT_UNKNOWN = "不明デバイス";

namespace {

constexpr uint32_t kProbeDisplays = 8;
constexpr uint32_t kProbeGpus = 8;
constexpr uint32_t kProbeAttributes = 2;  // logo and SLI bridge; zones follow

enum class Verdict { Supported, Unsupported, Nothing };

bool GpuFound(unsigned result) { return result == NVGF_READY || result == NVGF_UNSUPPORTED; }

Verdict VerdictOf(unsigned result, uint32_t display, uint32_t gpu, uint32_t attribute, int32_t debugMode) {
    if (debugMode) {
        int present = GlpClient.Query(static_cast<int32_t>(display), static_cast<int32_t>(gpu),
                                      static_cast<int32_t>(attribute));
        return present ? Verdict::Supported : Verdict::Unsupported;
    }
    if (result == NVGF_READY) return Verdict::Supported;
    if (result == NVGF_UNSUPPORTED) return Verdict::Unsupported;
    return Verdict::Nothing;
}

void StoreTriple(DEVICE& record, uint32_t display, uint32_t gpu, uint32_t attribute) {
    record.Display = display;
    record.GPU = gpu;
    record.Attribute = static_cast<int32_t>(attribute);
}

}  // namespace

const char* DeviceTextFor(unsigned result, const CNVGF& adapter) {
    switch (result) {
    case NVGF_READY: return adapter.DeviceName();
    case NVGF_UNSUPPORTED: return DEVICE_TEXT_UNSUPPORTED;
    default: return DEVICE_TEXT_UNKNOWN;
    }
}

char* FormatDeviceLabel(char* label, size_t size, const char* text, uint32_t display, uint32_t gpu,
                        int32_t attribute) {
    std::snprintf(label, size, "%s (%d,%d,%d)", text, static_cast<int>(display), static_cast<int>(gpu),
                  static_cast<int>(attribute));
    return label;
}

void SetAllLuminance(const DEVICE (&devices)[MAX_DEVICE], uint32_t brightness) {
    for (const DEVICE& device : devices) {
        if (device.Enable == 0) continue;
        SetLuminanceOnce(brightness, static_cast<uint32_t>(device.Attribute), device.Display, device.GPU,
                         device.Color);
    }
}

int SearchDevice(DEVICE (&records)[MAX_DEVICE], char (&labels)[MAX_DEVICE][128], int32_t debugMode) {
    CNVGF adapter;
    int next = 0;
    int found = 0;
    for (uint32_t display = 0; display < kProbeDisplays; ++display) {
        for (uint32_t gpu = 0; gpu < kProbeGpus; ++gpu) {
            uint32_t attributes = kProbeAttributes;
            for (uint32_t attribute = 0; attribute < attributes; ++attribute) {
                unsigned result = adapter.Initialize(display, gpu, attribute);
                if (attribute == 0 && GpuFound(result)) attributes += adapter.DescribeZones(nullptr);
                switch (VerdictOf(result, display, gpu, attribute, debugMode)) {
                case Verdict::Supported:
                    DebugPrint("DETECT DEVICE #%d DSP=%d GPU=%d ATR=%d\n", next, static_cast<int>(display),
                               static_cast<int>(gpu), static_cast<int>(attribute));
                    StoreTriple(records[next], display, gpu, attribute);
                    FormatDeviceLabel(labels[next], sizeof labels[next],
                                      debugMode ? DEVICE_TEXT_DEBUG : adapter.DeviceName(), display, gpu,
                                      static_cast<int32_t>(attribute));
                    ++next;
                    ++found;
                    break;
                case Verdict::Unsupported:
                    DebugPrint("DETECT UNSUPPORT DEVICE #%d DSP=%d GPU=%d ATR=%d\n", next,
                               static_cast<int>(display), static_cast<int>(gpu), static_cast<int>(attribute));
                    StoreTriple(records[next], display, gpu, attribute);
                    FormatDeviceLabel(labels[next], sizeof labels[next], DEVICE_TEXT_UNSUPPORTED, display, gpu,
                                      static_cast<int32_t>(attribute));
                    ++next;
                    break;
                case Verdict::Nothing:
                    FormatDeviceLabel(labels[next], sizeof labels[next], DEVICE_TEXT_UNKNOWN,
                                      records[next].Display, records[next].GPU, records[next].Attribute);
                    break;
                }
                if (next == MAX_DEVICE) return found;
                adapter.UnloadDLL();
            }
        }
    }
    return found;
}

uint32_t MachineZones(ZoneDescription (&zones)[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX]) {
    CNVGF adapter;
    uint32_t count = 0;
    // Displays and the GPUs of each are numbered without gaps: the first one
    // not found ends the walk.
    for (uint32_t display = 0; display < kProbeDisplays; ++display) {
        uint32_t gpu = 0;
        for (; gpu < kProbeGpus; ++gpu) {
            unsigned result = adapter.Initialize(display, gpu, 0);
            if (GpuFound(result)) {
                ZoneDescription found[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
                uint32_t n = adapter.DescribeZones(found);
                for (; count < n; ++count) zones[count] = found[count];
            }
            adapter.UnloadDLL();
            if (!GpuFound(result)) break;
        }
        if (gpu == 0) break;
    }
    return count;
}

bool DeviceTakesColor(const DEVICE& record) {
    uint32_t attribute = static_cast<uint32_t>(record.Attribute);
    if (!IsZoneAttribute(attribute)) return false;
    CNVGF adapter;
    ZoneDescription zone;
    bool takes = adapter.Initialize(record.Display, record.GPU, attribute) == NVGF_READY &&
                 adapter.DescribeZone(attribute, &zone) && ZoneTakesColor(zone.type);
    adapter.UnloadDLL();
    return takes;
}

char* MakeDeviceLabel(char (&label)[128], const DEVICE& record, int32_t debugMode) {
    if (debugMode) {
        int present = GlpClient.Query(static_cast<int32_t>(record.Display), static_cast<int32_t>(record.GPU),
                                      record.Attribute);
        return FormatDeviceLabel(label, sizeof label, present ? DEVICE_TEXT_DEBUG : DEVICE_TEXT_UNSUPPORTED,
                                 record.Display, record.GPU, record.Attribute);
    }
    CNVGF adapter;
    unsigned result = adapter.Initialize(record.Display, record.GPU, static_cast<uint32_t>(record.Attribute));
    FormatDeviceLabel(label, sizeof label, DeviceTextFor(result, adapter), record.Display, record.GPU,
                      record.Attribute);
    adapter.UnloadDLL();
    return label;
}
