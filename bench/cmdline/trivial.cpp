// The baseline: a GUI program with the program's manifest that only returns.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
