#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

// The names of the DLLs a 32-bit PE file imports at load time, upper case;
// empty when the file cannot be read as one.
std::vector<std::string> ImportedDlls(const std::string& path) {
    std::string file = testsupport::ReadFile(path);
    std::vector<std::string> names;
    auto at = [&](size_t offset, size_t size) { return offset + size <= file.size(); };
    IMAGE_DOS_HEADER dos;
    if (!at(0, sizeof dos)) return names;
    std::memcpy(&dos, file.data(), sizeof dos);
    IMAGE_NT_HEADERS32 nt;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || !at(dos.e_lfanew, sizeof nt)) return names;
    std::memcpy(&nt, file.data() + dos.e_lfanew, sizeof nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE) return names;
    size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                      nt.FileHeader.SizeOfOptionalHeader;
    auto fileOffset = [&](DWORD rva, size_t& offset) {
        for (WORD n = 0; n < nt.FileHeader.NumberOfSections; ++n) {
            IMAGE_SECTION_HEADER s;
            if (!at(sections + n * sizeof s, sizeof s)) return false;
            std::memcpy(&s, file.data() + sections + n * sizeof s, sizeof s);
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                offset = rva - s.VirtualAddress + s.PointerToRawData;
                return true;
            }
        }
        return false;
    };
    DWORD rva = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    size_t entry = 0;
    if (!fileOffset(rva, entry)) return names;
    for (;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d;
        if (!at(entry, sizeof d)) break;
        std::memcpy(&d, file.data() + entry, sizeof d);
        size_t name = 0;
        if (d.Name == 0 || !fileOffset(d.Name, name)) break;
        std::string dll(file.c_str() + name);
        for (char& c : dll) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        names.push_back(dll);
    }
    return names;
}

}  // namespace

// Winsock is bound at run time, only in debug-device mode: the program itself
// must start on a machine whatever its socket library.
TEST(Imports, TheProgramLinksNoSocketLibrary) {
    std::vector<std::string> dlls = ImportedDlls(testsupport::BinPath("GLIMDK32.EXE"));
    ASSERT_FALSE(dlls.empty()) << "GLIMDK32.EXE could not be read";
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "KERNEL32.DLL"), dlls.end());
    for (const std::string& dll : dlls) {
        EXPECT_NE("WSOCK32.DLL", dll);
        EXPECT_NE("WS2_32.DLL", dll);
    }
    // The reader itself sees socket imports where they are.
    std::vector<std::string> sim = ImportedDlls(testsupport::BinPath("GLIMSIM.EXE"));
    EXPECT_NE(std::find(sim.begin(), sim.end(), "WS2_32.DLL"), sim.end());
}
