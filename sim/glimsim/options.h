// The simulated device's command line.
#pragma once

#include <string>
#include <vector>

struct Led {
    int display;
    int gpu;
    int attribute;       // 0 board logo, 1 SLI bridge, 2 + z illumination zone z
    long color = -1;     // the colour it lights in, 0x00BBGGRR; -1: green
};

struct SimOptions {
    unsigned short port = 30000;  // 0: any free port, shown in the ready line
    unsigned short replyPort = 0; // 0: reply from the port that received
    std::vector<Led> leds = {{0, 0, 0}, {0, 0, 1}};
    bool refuseQuery = false;
    bool refuseNotify = false;     // every notification
    long refuseNotifyAfter = -1;   // >= 0: accept this many, refuse the rest
    bool noAnswer = false;
    int replySize = 24;            // 23 or 25 to send broken replies
    unsigned delayMs = 0;          // wait before each reply
    unsigned seconds = 0;          // 0: run until closed
    bool headless = false;
    bool help = false;
};

// Fills `options` from the arguments after the program name. False with a
// one-line reason in `error` when an argument is unknown or out of range.
bool ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// "0,0,0;0,0,1": the LED set as written on the command line.
std::string FormatLeds(const std::vector<Led>& leds);

extern const char USAGE[];

constexpr size_t MAX_LEDS = 32;
