// One row of the table scripts/bench prints at the end: what was measured,
// the figure, its goal and whether it was met (empty where no goal is set).
// Each benchmark prints its own details besides.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

inline std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

inline void Figure(const std::string& what, const std::string& measured, const std::string& goal, bool hasGoal,
                   bool met) {
    std::printf("@figure|%s|%s|%s|%s\n", what.c_str(), measured.c_str(), goal.c_str(),
                hasGoal ? (met ? "met" : "NOT MET") : "");
    std::fflush(stdout);
}

// A figure that has no goal.
inline void Figure(const std::string& what, const std::string& measured) { Figure(what, measured, "none set", false, false); }
