#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

const char USAGE[] =
    "usage: GLIMSIM.EXE [options]\n"
    "  --headless               no window: one line per datagram on standard output\n"
    "  --port N                 listen on 127.0.0.1:N (default 30000, 0 = any free port)\n"
    "  --leds D,G,A[=R,G,B][;...]  the LEDs this device has (default 0,0,0;0,0,1),\n"
    "                           each lit in green or in the colour given\n"
    "  --refuse-query           answer every query with Status 0\n"
    "  --refuse-notify          answer every notification with Status 0\n"
    "  --refuse-notify-after N  accept N notifications, refuse the rest\n"
    "  --no-answer              take every request and never answer\n"
    "  --reply-size 23|24|25    length of the replies (default 24)\n"
    "  --reply-port N           also listen on 127.0.0.1:N and answer from there\n"
    "  --delay MS               wait MS milliseconds before each answer\n"
    "  --seconds N              end after N seconds\n"
    "  --help                   this text\n";

namespace {

bool ToNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

// Exactly three comma-separated numbers from `low` to `high`.
bool ParseTriple(const std::string& text, long low, long high, long (&parts)[3]) {
    size_t start = 0;
    for (int n = 0; n < 3; ++n) {
        size_t comma = text.find(',', start);
        bool last = n == 2;
        if (last != (comma == std::string::npos)) return false;
        std::string part = text.substr(start, last ? std::string::npos : comma - start);
        if (!ToNumber(part, low, high, parts[n])) return false;
        start = comma + 1;
    }
    return true;
}

// "D,G,A" or "D,G,A=R,G,B".
bool ParseLed(const std::string& text, Led& led) {
    size_t equals = text.find('=');
    long parts[3];
    if (!ParseTriple(text.substr(0, equals), 0, 0x7fffffffL, parts)) return false;
    led = {static_cast<int>(parts[0]), static_cast<int>(parts[1]), static_cast<int>(parts[2])};
    if (equals == std::string::npos) return true;
    long rgb[3];
    if (!ParseTriple(text.substr(equals + 1), 0, 255, rgb)) return false;
    led.color = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
    return true;
}

bool ParseLeds(const std::string& text, std::vector<Led>& leds) {
    leds.clear();
    size_t start = 0;
    for (;;) {
        size_t end = text.find_first_of(";:/", start);
        Led led;
        if (!ParseLed(text.substr(start, end == std::string::npos ? end : end - start), led))
            return false;
        for (const Led& known : leds)
            if (known.display == led.display && known.gpu == led.gpu &&
                known.attribute == led.attribute)
                return false;
        leds.push_back(led);
        if (leds.size() > MAX_LEDS) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    for (size_t n = 0; n < args.size(); ++n) {
        const std::string& arg = args[n];
        const bool hasValue = n + 1 < args.size();
        const std::string value = hasValue ? args[n + 1] : std::string();
        long number = 0;
        auto needNumber = [&](long low, long high) {
            if (!hasValue || !ToNumber(value, low, high, number)) {
                error = arg + " needs a number from " + std::to_string(low) + " to " +
                        std::to_string(high);
                return false;
            }
            ++n;
            return true;
        };
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--refuse-query") {
            options.refuseQuery = true;
        } else if (arg == "--refuse-notify") {
            options.refuseNotify = true;
        } else if (arg == "--no-answer") {
            options.noAnswer = true;
        } else if (arg == "--port") {
            if (!needNumber(0, 65535)) return false;
            options.port = static_cast<unsigned short>(number);
        } else if (arg == "--reply-port") {
            if (!needNumber(1, 65535)) return false;
            options.replyPort = static_cast<unsigned short>(number);
        } else if (arg == "--refuse-notify-after") {
            if (!needNumber(0, 0x7fffffffL)) return false;
            options.refuseNotifyAfter = number;
        } else if (arg == "--reply-size") {
            if (!needNumber(23, 25)) return false;
            options.replySize = static_cast<int>(number);
        } else if (arg == "--delay") {
            if (!needNumber(0, 60000)) return false;
            options.delayMs = static_cast<unsigned>(number);
        } else if (arg == "--seconds") {
            if (!needNumber(1, 86400 * 7)) return false;
            options.seconds = static_cast<unsigned>(number);
        } else if (arg == "--leds") {
            if (!hasValue || !ParseLeds(value, options.leds)) {
                error = "--leds needs D,G,A triples of numbers separated by ';' (at most " +
                        std::to_string(MAX_LEDS) + ", no repeats)";
                return false;
            }
            ++n;
        } else {
            error = "unknown argument: " + arg;
            return false;
        }
    }
    if (options.replyPort != 0 && options.replyPort == options.port) {
        error = "--reply-port must differ from --port";
        return false;
    }
    return true;
}

std::string FormatLeds(const std::vector<Led>& leds) {
    std::string text;
    for (const Led& led : leds) {
        char part[80];
        std::snprintf(part, sizeof part, "%s%d,%d,%d", text.empty() ? "" : ";", led.display,
                      led.gpu, led.attribute);
        text += part;
        if (led.color >= 0) {
            std::snprintf(part, sizeof part, "=%ld,%ld,%ld", led.color & 0xFF, (led.color >> 8) & 0xFF,
                          (led.color >> 16) & 0xFF);
            text += part;
        }
    }
    return text;
}
