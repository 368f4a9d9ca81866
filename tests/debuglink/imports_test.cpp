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

// What the loader sees of a PE file: its optional-header magic (0x10B PE32,
// 0x20B PE32+), its subsystem and the DLLs it imports at load time, upper case.
// `dlls` stays empty when the file cannot be read as either kind.
struct PeFacts {
    WORD magic = 0;
    WORD subsystem = 0;
    std::vector<std::string> dlls;
};

template <typename NtHeaders>
void ReadImports(const std::string& file, size_t ntOffset, PeFacts* facts) {
    auto at = [&](size_t offset, size_t size) { return offset + size <= file.size(); };
    NtHeaders nt;
    if (!at(ntOffset, sizeof nt)) return;
    std::memcpy(&nt, file.data() + ntOffset, sizeof nt);
    facts->subsystem = nt.OptionalHeader.Subsystem;
    size_t sections = ntOffset + offsetof(NtHeaders, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
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
    if (!fileOffset(rva, entry)) return;
    for (;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d;
        if (!at(entry, sizeof d)) break;
        std::memcpy(&d, file.data() + entry, sizeof d);
        size_t name = 0;
        if (d.Name == 0 || !fileOffset(d.Name, name)) break;
        std::string dll(file.c_str() + name);
        for (char& c : dll) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        facts->dlls.push_back(dll);
    }
}

PeFacts ReadPe(const std::string& path) {
    std::string file = testsupport::ReadFile(path);
    PeFacts facts;
    IMAGE_DOS_HEADER dos;
    if (file.size() < sizeof dos) return facts;
    std::memcpy(&dos, file.data(), sizeof dos);
    const size_t magicAt = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Magic);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || magicAt + sizeof(WORD) > file.size()) return facts;
    DWORD signature;
    std::memcpy(&signature, file.data() + dos.e_lfanew, sizeof signature);
    if (signature != IMAGE_NT_SIGNATURE) return facts;
    std::memcpy(&facts.magic, file.data() + magicAt, sizeof facts.magic);
    if (facts.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) ReadImports<IMAGE_NT_HEADERS32>(file, dos.e_lfanew, &facts);
    if (facts.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) ReadImports<IMAGE_NT_HEADERS64>(file, dos.e_lfanew, &facts);
    return facts;
}

bool Imports(const PeFacts& facts, const char* dll) {
    return std::find(facts.dlls.begin(), facts.dlls.end(), dll) != facts.dlls.end();
}

}  // namespace

// Winsock is bound at run time, only in debug-device mode: the program itself
// must start on a machine whatever its socket library. It is a GUI program
// that needs no MinGW runtime DLL beside it. Checked for the program of this
// build and, on every machine, for the 32-bit product, which a machine that
// runs no 32-bit code can still read.
TEST(Imports, TheProgramsAreSelfContainedGuiProgramsWithoutSockets) {
    struct Program {
        std::string path;
        WORD magic;
    } programs[] = {
#ifdef _WIN64
        {testsupport::BinPath("GLIMDK64.EXE"), IMAGE_NT_OPTIONAL_HDR64_MAGIC},
#endif
        {testsupport::Product32Path(), IMAGE_NT_OPTIONAL_HDR32_MAGIC},
    };
    for (const Program& program : programs) {
        PeFacts pe = ReadPe(program.path);
        ASSERT_FALSE(pe.dlls.empty()) << program.path << " could not be read";
        EXPECT_EQ(program.magic, pe.magic) << program.path;
        EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, pe.subsystem) << program.path;
        EXPECT_TRUE(Imports(pe, "KERNEL32.DLL")) << program.path;
        for (const std::string& dll : pe.dlls) {
            EXPECT_NE("WSOCK32.DLL", dll) << program.path;
            EXPECT_NE("WS2_32.DLL", dll) << program.path;
            EXPECT_EQ(std::string::npos, dll.find("LIBGCC")) << program.path;
            EXPECT_EQ(std::string::npos, dll.find("LIBSTDC++")) << program.path;
            EXPECT_EQ(std::string::npos, dll.find("LIBWINPTHREAD")) << program.path;
        }
    }
    // The reader itself sees socket imports where they are.
    EXPECT_TRUE(Imports(ReadPe(testsupport::BinPath("GLIMSIM.EXE")), "WS2_32.DLL"));
}
