// glimctl: drives a running Glimmerdeck from the command line, for scripts and
// scheduled tasks. Exit codes: 0 done, 1 refused by the program, 2 no running
// instance, 3 bad arguments, 4 the program runs elevated.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/glimmessages.h"
#include "base/dllsearch.h"

namespace {

enum ExitCode {
    EXIT_DONE = 0,
    EXIT_REFUSED = 1,
    EXIT_NO_INSTANCE = 2,
    EXIT_BAD_ARGUMENTS = 3,
    EXIT_ELEVATED = 4,
};

// Setting an LED loads the driver interface in the program; give it time.
constexpr UINT ANSWER_TIMEOUT_MS = 15000;

const char* const USAGE =
    "usage: glimctl set DISPLAY GPU ATTRIBUTE LUMINANCE\n"
    "       glimctl pause\n"
    "       glimctl resume\n"
    "       glimctl status\n"
    "\n"
    "  set     sets one LED once: DISPLAY 0..15, GPU 0..255, ATTRIBUTE 0..255\n"
    "          (0 board logo, 1 SLI bridge), LUMINANCE 0..100 per cent\n"
    "  pause   pauses control of every LED\n"
    "  resume  resumes control of every LED\n"
    "  status  tells whether Glimmerdeck runs\n"
    "\n"
    "exit codes: 0 done, 1 refused by Glimmerdeck, 2 Glimmerdeck not running,\n"
    "            3 bad arguments, 4 Glimmerdeck runs elevated (as administrator)\n";

int BadArguments(const char* why) {
    std::fprintf(stderr, "glimctl: %s\n\n%s", why, USAGE);
    return EXIT_BAD_ARGUMENTS;
}

// A plain decimal number within [0, max]: digits only, no sign, no blanks.
bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
    if (!text || !*text) return false;
    for (const char* p = text; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long n = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || n > max) return false;
    *value = n;
    return true;
}

HWND FindProgram() { return FindWindowA(GLIM_CLASS_NAME, GLIM_WINDOW_NAME); }

int NotRunning() {
    std::fprintf(stderr, "glimctl: Glimmerdeck is not running.\n");
    return EXIT_NO_INSTANCE;
}

// Sends `message` and stores the program's answer. False when the window went
// away, would not take the message or did not answer in time (the reason is
// printed).
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* answer, int* failure) {
    SetLastError(0);
    LRESULT sent = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                       ANSWER_TIMEOUT_MS, answer);
    if (sent) return true;
    // A program started "as administrator" filters messages from processes of
    // a lower level: the send fails at once, and waiting would not help.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        std::fprintf(stderr,
                     "glimctl: Glimmerdeck runs elevated (as administrator) and takes no messages from this "
                     "program; run glimctl elevated too, or start Glimmerdeck normally.\n");
        *failure = EXIT_ELEVATED;
    } else if (!IsWindow(window)) {
        *failure = NotRunning();
    } else {
        std::fprintf(stderr, "glimctl: Glimmerdeck did not answer within %u s.\n",
                     ANSWER_TIMEOUT_MS / 1000);
        *failure = EXIT_REFUSED;
    }
    return false;
}

int CommandSet(int argc, char** argv) {
    if (argc != 6) return BadArguments("set takes DISPLAY GPU ATTRIBUTE LUMINANCE.");
    unsigned long display = 0, gpu = 0, attribute = 0, luminance = 0;
    if (!ParseNumber(argv[2], 15, &display)) return BadArguments("DISPLAY must be a number from 0 to 15.");
    if (!ParseNumber(argv[3], 255, &gpu)) return BadArguments("GPU must be a number from 0 to 255.");
    if (!ParseNumber(argv[4], 255, &attribute))
        return BadArguments("ATTRIBUTE must be a number from 0 to 255.");
    if (!ParseNumber(argv[5], 100, &luminance))
        return BadArguments("LUMINANCE must be a number from 0 to 100.");

    HWND window = FindProgram();
    if (!window) return NotRunning();
    DWORD_PTR answer = 0;
    int failure = EXIT_REFUSED;
    if (!Ask(window, WM_GLIMDECK, luminance, static_cast<LPARAM>(PackSelector(display, gpu, attribute)),
             &answer, &failure))
        return failure;
    if (answer != 1) {
        std::fprintf(stderr, "glimctl: Glimmerdeck could not set display %lu, GPU %lu, attribute %lu.\n",
                     display, gpu, attribute);
        return EXIT_REFUSED;
    }
    std::printf("Display %lu, GPU %lu, attribute %lu set to %lu %%.\n", display, gpu, attribute, luminance);
    return EXIT_DONE;
}

int CommandControl(int argc, UINT message, const char* done) {
    if (argc != 2) return BadArguments("this command takes no arguments.");
    HWND window = FindProgram();
    if (!window) return NotRunning();
    DWORD_PTR answer = 0;
    int failure = EXIT_REFUSED;
    if (!Ask(window, message, 0, 0, &answer, &failure)) return failure;
    if (answer != 1) {
        std::fprintf(stderr, "glimctl: Glimmerdeck refused the request.\n");
        return EXIT_REFUSED;
    }
    std::printf("%s\n", done);
    return EXIT_DONE;
}

int CommandStatus(int argc) {
    if (argc != 2) return BadArguments("status takes no arguments.");
    HWND window = FindProgram();
    if (!window) {
        std::printf("Glimmerdeck is not running.\n");
        return EXIT_NO_INSTANCE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::printf("Glimmerdeck is running (process %lu).\n", static_cast<unsigned long>(pid));
    return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    LimitDllSearch();
    if (argc < 2) return BadArguments("no command given.");
    const char* command = argv[1];
    if (std::strcmp(command, "set") == 0) return CommandSet(argc, argv);
    if (std::strcmp(command, "pause") == 0) return CommandControl(argc, WM_CONTROL_SUSPEND, "Control paused.");
    if (std::strcmp(command, "resume") == 0) return CommandControl(argc, WM_CONTROL_RESUME, "Control resumed.");
    if (std::strcmp(command, "status") == 0) return CommandStatus(argc);
    if (std::strcmp(command, "help") == 0 || std::strcmp(command, "--help") == 0 ||
        std::strcmp(command, "-h") == 0) {
        std::printf("%s", USAGE);
        return EXIT_DONE;
    }
    return BadArguments("unknown command.");
}
