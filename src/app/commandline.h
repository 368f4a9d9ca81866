// Command-line mode: GLIMDK32.EXE (GLIMDK64.EXE) DISPLAY GPU ATTRIBUTE LUMINANCE sets one LED
// once and ends.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandLineRequest {
    uint32_t Display;
    uint32_t GPU;
    uint32_t Attribute;
    uint32_t Luminance;
};

// Reads the runtime's argument vector (program name first). False when it
// holds fewer than four arguments; text that is no number counts as 0 and
// arguments after the fourth are ignored.
bool ParseCommandLine(int argc, char** argv, CommandLineRequest* request);

// The usage box text, cut to `size`.
void FormatUsage(char* text, size_t size);

// Shows the usage box, or sets the LED and shows the error box when that
// fails. Returns once any box is closed.
void RunCommandLine(int argc, char** argv);
