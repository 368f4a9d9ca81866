// Settings files for the program under test.
#pragma once

#include <string>
#include <vector>

namespace apptest {

struct IniDevice {
    int Index;
    int Enable;
    int Display;
    int Gpu;
    int Attribute;
    int PlayType;
    int Luminance;
};

struct IniGlobal {
    int Debug = 0;
    int Balloon = 1;
    int Timer = 1000;
    int Resolution = 100;
    int AwayOff = -1;  // -1: no key
};

inline std::string MakeIni(const std::vector<IniDevice>& devices, const IniGlobal& global = IniGlobal()) {
    std::string text = "[GLOBAL]\r\nDebug=" + std::to_string(global.Debug) +
                       "\r\nTimer=" + std::to_string(global.Timer) +
                       "\r\nResolution=" + std::to_string(global.Resolution) +
                       "\r\nBalloon=" + std::to_string(global.Balloon) + "\r\n";
    if (global.AwayOff >= 0) text += "AwayOff=" + std::to_string(global.AwayOff) + "\r\n";
    for (const IniDevice& d : devices) {
        text += "[DEVICE" + std::to_string(d.Index) + "]\r\n";
        text += "Enable=" + std::to_string(d.Enable) + "\r\n";
        text += "Display=" + std::to_string(d.Display) + "\r\n";
        text += "GPU=" + std::to_string(d.Gpu) + "\r\n";
        text += "Attribute=" + std::to_string(d.Attribute) + "\r\n";
        text += "PlayType=" + std::to_string(d.PlayType) + "\r\n";
        text += "Luminance=" + std::to_string(d.Luminance) + "\r\n";
    }
    return text;
}

}  // namespace apptest
