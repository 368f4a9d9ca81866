// Reaching the GPUs outside the control threads: all-LED set, device search
// and device labels. `debugMode` is the debug-device switch of the settings:
// non-zero asks the debug device instead of the driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/device.h"
#include "gpu/zones.h"

class CNVGF;

// Device texts of the labels and display names "%s (%d,%d,%d)".
extern const char* const DEVICE_TEXT_DEBUG;        // "デバッグデバイス"
extern const char* const DEVICE_TEXT_UNSUPPORTED;  // "未サポートデバイス"
extern const char* const DEVICE_TEXT_UNKNOWN;      // "不明デバイス"

// The text for an adapter after Initialize answered `result`: the device name
// (valid as long as the adapter), or one of the texts above.
const char* DeviceTextFor(unsigned result, const CNVGF& adapter);

// "%s (%d,%d,%d)" into `label` (cut to fit); returns `label`.
char* FormatDeviceLabel(char* label, size_t size, const char* text, uint32_t display, uint32_t gpu,
                        int32_t attribute);

// SetLuminanceOnce on every enabled device; results ignored.
void SetAllLuminance(const DEVICE (&devices)[MAX_DEVICE], uint32_t brightness);

// Probes display 0..7, GPU 0..7 and for each GPU the logo, the SLI bridge
// and then its illumination zones in order (attributes 2, 3, ...), and fills
// `records` (the triples only) and `labels` (128 characters each). Returns
// the number of supported devices found. The zones probed are those the
// driver reports, in debug-device mode too.
int SearchDevice(DEVICE (&records)[MAX_DEVICE], char (&labels)[MAX_DEVICE][128], int32_t debugMode);

// The zones of the machine by index: zones[z] describes zone z of the first
// GPU (display by display, GPU by GPU) that has one. Returns how many zone
// indexes some GPU has (0: no GPU has zones).
uint32_t MachineZones(ZoneDescription (&zones)[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX]);

// Whether the record names a zone that takes a colour (RGB or RGBW), as the
// driver describes it.
bool DeviceTakesColor(const DEVICE& record);

// "%s (%d,%d,%d)" for one record; returns `label`.
char* MakeDeviceLabel(char (&label)[128], const DEVICE& record, int32_t debugMode);
