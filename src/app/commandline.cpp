#include "app/commandline.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/platform.h"
#include "gpu/cnvgf.h"

namespace {

const char PRODUCT_NAME[] = "Glimmerdeck";
const char USAGE_FORMAT[] =
    "%s (%s)\r\nCOMMAND LINE MODE\r\n\r\nUSAGE : %s <DISPLAY> <GPU> <ATTRIBUTE> <LUMINANCE>\r\n\r\nEXAMPLE : %s 0 0 0 100";
const char INFORMATION_TITLE[] = "確認情報";
const char ERROR_TITLE[] = "エラー情報";
const char UNSUPPORTED_DEVICE[] = "サポートされていないデバイスです。";
const int COMMAND_ARGUMENTS = 4;

// The runtime's decimal conversion, taken as the unsigned word the driver
// side works with (a negative brightness is then above 100).
uint32_t Number(const char* text) { return static_cast<uint32_t>(std::strtol(text, nullptr, 10)); }

}  // namespace

bool ParseCommandLine(int argc, char** argv, CommandLineRequest* request) {
    if (argc <= COMMAND_ARGUMENTS || !argv) return false;
    request->Display = Number(argv[1]);
    request->GPU = Number(argv[2]);
    request->Attribute = Number(argv[3]);
    request->Luminance = Number(argv[4]);
    return true;
}

void FormatUsage(char* text, size_t size) {
    std::snprintf(text, size, USAGE_FORMAT, PRODUCT_NAME, PLATFORM_TAG, PROGRAM_FILE, PROGRAM_FILE);
}

void RunCommandLine(int argc, char** argv) {
    CommandLineRequest request;
    if (!ParseCommandLine(argc, argv, &request)) {
        char usage[512];
        FormatUsage(usage, sizeof usage);
        MessageBoxA(nullptr, usage, INFORMATION_TITLE, MB_ICONINFORMATION | MB_TOPMOST | MB_SETFOREGROUND);
        return;
    }
    if (!SetLuminanceOnce(request.Luminance, request.Attribute, request.Display, request.GPU))
        MessageBoxA(nullptr, UNSUPPORTED_DEVICE, ERROR_TITLE, MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
}
