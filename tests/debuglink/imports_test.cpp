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
// 0x20B PE32+), its subsystem, the DLLs it imports at load time, upper case,
// and the functions it imports from them by name ("KERNEL32.DLL!Sleep").
// `dlls` stays empty when the file cannot be read as either kind.
struct PeFacts {
    WORD magic = 0;
    WORD subsystem = 0;
    std::vector<std::string> dlls;
    std::vector<std::string> functions;
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
        // One pointer-sized word per import: an ordinal (top bit) or the
        // address of a hint and a name.
        using Thunk = decltype(nt.OptionalHeader.ImageBase);
        const Thunk byOrdinal = Thunk(1) << (sizeof(Thunk) * 8 - 1);
        size_t thunk = 0;
        if (!fileOffset(d.OriginalFirstThunk ? d.OriginalFirstThunk : d.FirstThunk, thunk)) continue;
        for (Thunk t; at(thunk, sizeof t); thunk += sizeof t) {
            std::memcpy(&t, file.data() + thunk, sizeof t);
            size_t hint = 0;
            if (t == 0) break;
            if ((t & byOrdinal) || !fileOffset(static_cast<DWORD>(t), hint) || !at(hint, 3)) continue;
            facts->functions.push_back(dll + "!" + std::string(file.c_str() + hint + 2));
        }
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

// True when any DLL's `function` is imported.
bool ImportsFunction(const PeFacts& facts, const std::string& function) {
    for (const std::string& f : facts.functions)
        if (f.size() > function.size() && f.compare(f.size() - function.size() - 1, std::string::npos,
                                                    "!" + function) == 0)
            return true;
    return false;
}

// A text the file holds, terminator included.
bool HoldsText(const std::string& file, const std::string& text) {
    return file.find(std::string(text.c_str(), text.size() + 1)) != std::string::npos;
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

// Each program's first step makes libraries loaded by name (the delay-loaded
// ones, and VERSION.dll, which is no KnownDLL) come from the system directory
// only. The call that does it is looked up by name, never imported: Windows 7
// without its update lacks it and would not start the program; SetDllDirectoryA
// is the fallback there. Likewise the message filter of the resident program,
// which lets Explorer's "TaskbarCreated" reach an elevated instance. Wine has
// no integrity levels to show either filter, so the built programs are read.
TEST(Imports, TheProgramsLimitTheLibrarySearchByALookedUpCall) {
    struct Program {
        std::string path;
        const char* lookedUp;  // another function looked up at run time
        const char* text;      // a text the program must hold, or null
    } programs[] = {
#ifdef _WIN64
        {testsupport::BinPath("GLIMDK64.EXE"), "ChangeWindowMessageFilterEx", nullptr},
#endif
        {testsupport::Product32Path(), "ChangeWindowMessageFilterEx", nullptr},
        {testsupport::BinPath("GLIMCTL.EXE"), nullptr, "takes no messages from this program"},
    };
    for (const Program& program : programs) {
        PeFacts pe = ReadPe(program.path);
        ASSERT_FALSE(pe.functions.empty()) << program.path << " could not be read";
        std::string file = testsupport::ReadFile(program.path);
        EXPECT_NE(pe.functions.end(), std::find(pe.functions.begin(), pe.functions.end(),
                                                "KERNEL32.DLL!SetDllDirectoryA"))
            << program.path;
        for (const char* name : {"SetDefaultDllDirectories", program.lookedUp}) {
            if (!name) continue;
            EXPECT_TRUE(HoldsText(file, name)) << program.path << ": " << name;
            EXPECT_FALSE(ImportsFunction(pe, name)) << program.path << ": " << name;
        }
        if (program.text) {
            EXPECT_NE(std::string::npos, file.find(program.text)) << program.path;
        }
    }
    // The reader sees imported functions where they are.
    EXPECT_TRUE(ImportsFunction(ReadPe(testsupport::BinPath("GLIMCTL.EXE")), "SendMessageTimeoutA"));
}
