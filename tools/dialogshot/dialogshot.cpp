// Opens the settings dialog of a resident GLIMDK32.EXE (GLIMDK64.EXE on the 64-bit build) on a simulated machine
// and saves pictures of it: a fixed-brightness device, a pattern device
// caught in the middle of its animation, and a zone lit in a colour of its own.
//
//     DIALOGSHOT.EXE OUTDIR     writes OUTDIR\dialog-fixed.bmp, dialog-pattern.bmp, dialog-zone.bmp
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialogdriver.h"
#include "res/resource.h"
#include "simnvapi.h"

using namespace testsupport;

namespace {

// A slow swell from dark to full and back, in 10 % steps of 120 ms.
std::string BreathePattern() {
    std::string text;
    for (int l = 0; l <= 100; l += 10) text += std::to_string(l) + ",120\r\n";
    for (int l = 90; l >= 10; l -= 10) text += std::to_string(l) + ",120\r\n";
    return text;
}

std::string Settings(const std::string& pattern) {
    return "[GLOBAL]\r\nTimer=1000\r\nResolution=20\r\nBalloon=1\r\n"
           "[DEVICE0]\r\nEnable=1\r\nPlayType=0\r\nLuminance=80\r\n"
           "[DEVICE1]\r\nEnable=1\r\nGPU=0\r\nAttribute=1\r\nPlayType=6\r\nPlayFile=" +
           pattern + "\r\n" +
           "[DEVICE2]\r\nEnable=1\r\nGPU=0\r\nAttribute=2\r\nPlayType=0\r\nLuminance=100\r\nColor=255,96,0\r\n";
}

// The dialog with a margin, so that its frame shows whole.
bool SaveDialog(const DialogDriver& dialog, const std::string& path) {
    RECT rc;
    if (!GetWindowRect(dialog.Window(), &rc)) return false;
    InflateRect(&rc, 8, 8);
    return CaptureScreen(rc).SaveBmp(path);
}

bool GreenBetween(const ScreenImage& image, int low, int high) {
    COLORREF c = image.TextColor();
    return c != CLR_INVALID && GetRValue(c) == 31 && GetGValue(c) >= low && GetGValue(c) <= high;
}

int Run(const std::string& out) {
    SimNvapi sim;
    SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    machine.Gpu(0, 0).zones = "rgb@top:118,185,0 fixed@front";
    if (!sim.Write(machine)) return 2;

    ResidentProgram program;
    // Relative to the program's folder, its current directory, so that the
    // field shows the name whole.
    if (!WriteFile(program.Dir().File("breathe.GLP"), BreathePattern()) ||
        !program.WriteSettings(Settings("breathe.GLP"))) {
        return 2;
    }
    if (!program.Start()) {
        std::fprintf(stderr, "dialogshot: the program did not start\n");
        return 1;
    }
    DialogDriver dialog;
    if (!dialog.Open(program)) {
        std::fprintf(stderr, "dialogshot: the dialog did not open\n");
        return 1;
    }
    HWND strip = dialog.Item(IDC_PREVIEW);
    WaitUntil([&] { return GreenBetween(CaptureClient(strip), 180, 200); }, 5000, 20);
    Sleep(300);
    bool ok = SaveDialog(dialog, out + "\\dialog-fixed.bmp");

    dialog.Select(IDC_DEVICE_LIST, 1);
    // Half lit: neither dark nor full.
    bool caught = WaitUntil([&] { return GreenBetween(CaptureClient(strip), 120, 160); }, 10000, 5);
    ok = ok && caught && SaveDialog(dialog, out + "\\dialog-pattern.bmp");

    dialog.Select(IDC_DEVICE_LIST, 2);
    bool orange = WaitUntil([&] { return CaptureClient(strip).TextColor() == RGB(231, 106, 31); }, 5000, 20);
    Sleep(300);
    ok = ok && orange && SaveDialog(dialog, out + "\\dialog-zone.bmp");

    dialog.Click(IDCANCEL);
    dialog.WaitClosed();
    program.Stop();
    if (!ok) std::fprintf(stderr, "dialogshot: a picture could not be taken\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: DIALOGSHOT OUTDIR\n");
        return 3;
    }
    return Run(argv[1]);
}
