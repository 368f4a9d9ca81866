// The resources linked into the program, read as the system reads them: the
// program of this build and, on the 64-bit build too, the 32-bit product
// (a data file can be read across bitness).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "testsupport.h"

namespace {

std::vector<std::string> Programs() {
    std::vector<std::string> programs {testsupport::BinPath(TEST_PROGRAM)};
#ifdef _WIN64
    programs.push_back(testsupport::Product32Path());
#endif
    return programs;
}

class ResourcesTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        path = GetParam();
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module) << path;
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    std::string path;
    HMODULE module = nullptr;
};

// The text of a module's manifest (resource 1 of type 24); "" when it has none.
std::string ManifestOf(HMODULE module) {
    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    const char* text = manifest ? static_cast<const char*>(LockResource(LoadResource(module, manifest))) : nullptr;
    return text ? std::string(text, SizeofResource(module, manifest)) : std::string();
}

// The text of the element `name` (<name ...>text</name>); "" when absent.
std::string ElementText(const std::string& xml, const std::string& name) {
    size_t open = xml.find("<" + name + " ");
    if (open == std::string::npos) open = xml.find("<" + name + ">");
    if (open == std::string::npos) return "";
    size_t start = xml.find('>', open) + 1;
    size_t end = xml.find("</" + name + ">", start);
    return end == std::string::npos ? "" : xml.substr(start, end - start);
}

// Per-monitor (v2) DPI awareness, with the older systems' form beside it,
// each in the namespace that the system reads it from.
void ExpectPerMonitorAware(const std::string& xml) {
    EXPECT_EQ("true/pm", ElementText(xml, "dpiAware"));
    EXPECT_EQ("PerMonitorV2, PerMonitor", ElementText(xml, "dpiAwareness"));
    EXPECT_NE(std::string::npos, xml.find("SMI/2005/WindowsSettings\">true/pm<")) << xml;
    EXPECT_NE(std::string::npos, xml.find("SMI/2016/WindowsSettings\">PerMonitorV2")) << xml;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Programs, ResourcesTest, ::testing::ValuesIn(Programs()));

TEST_P(ResourcesTest, VersionBlock) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(4u, length) << "exactly one language and code page pair";
    const WORD* pair = static_cast<const WORD*>(value);
    EXPECT_EQ(0x0411, pair[0]);
    EXPECT_EQ(0x04B0, pair[1]);

    struct Key {
        const char* name;
        const char* value;  // null: any non-empty text
    } keys[] = {
        {"FileDescription", "Glimmerdeck"}, {"FileVersion", "1.03"},        {"InternalName", "GLIMDECK"},
        {"OriginalFilename", "GLIMDECK.EXE"}, {"ProductName", "Glimmerdeck"}, {"ProductVersion", "1.03"},
        {"SpecialBuild", "NVAPI Version"},  {"LegalCopyright", nullptr},    {"CompanyName", nullptr},
        {"LegalTrademarks", nullptr},
    };
    for (const Key& key : keys) {
        std::string query = std::string("\\StringFileInfo\\041104b0\\") + key.name;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), &value, &length)) << key.name;
        const char* text = static_cast<const char*>(value);
        if (key.value) EXPECT_STREQ(key.value, text) << key.name;
        else EXPECT_GT(std::string(text).size(), 0u) << key.name;
    }

    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);  // 1.0
    EXPECT_EQ(MAKELONG(0, 3), fixed->dwFileVersionLS);  // .3.0
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
}

// Each icon carries an image for the small-icon size of 100, 125, 150 and
// 200 % scaling (16, 20, 24, 32) and the large icon (32, 48).
TEST_P(ResourcesTest, IconsInEverySize) {
    for (int id : {IDI_PROGRAM, IDI_TRAY_RUNNING, IDI_TRAY_STOPPED}) {
        HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
        ASSERT_NE(nullptr, group) << id;
        const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        ASSERT_NE(nullptr, dir);
        WORD count = *reinterpret_cast<const WORD*>(dir + 4);
        std::vector<int> sizes;
        for (WORD i = 0; i < count; ++i) sizes.push_back(dir[6 + 14 * i]);  // width byte of each entry
        for (int size : {16, 20, 24, 32, 48}) {
            EXPECT_NE(sizes.end(), std::find(sizes.begin(), sizes.end(), size)) << id << " at " << size;
            HICON icon = static_cast<HICON>(
                LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
            EXPECT_NE(nullptr, icon) << id << " at " << size;
            if (icon) DestroyIcon(icon);
        }
    }
}

TEST_P(ResourcesTest, ManifestAsksForCommonControlsSix) {
    std::string xml = ManifestOf(module);
    // Without it the 32-bit program would have its file writes virtualised.
    EXPECT_NE(std::string::npos, xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"")) << xml;
    ASSERT_FALSE(xml.empty());
    ExpectPerMonitorAware(xml);
    size_t dependency = xml.find("Microsoft.Windows.Common-Controls");
    ASSERT_NE(std::string::npos, dependency);
    EXPECT_NE(std::string::npos, xml.find("version=\"6.0.0.0\"", dependency));
    // The program and the controls it asks for are of its own processor.
    const bool wide = path.find("GLIMDK64.EXE") != std::string::npos;
    const std::string arch = wide ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"";
    EXPECT_NE(std::string::npos, xml.find(arch)) << path;
    EXPECT_EQ(std::string::npos, xml.find(wide ? "\"x86\"" : "\"amd64\"")) << path;
    // The program's own identity carries the version of the version block.
    size_t self = xml.find(wide ? "name=\"Glimmerdeck.GLIMDK64\"" : "name=\"Glimmerdeck.GLIMDK32\"");
    ASSERT_NE(std::string::npos, self) << path;
    std::string identity = xml.substr(self, xml.find("/>", self) - self);
    EXPECT_NE(std::string::npos, identity.find("version=\"1.0.3.0\"")) << identity;
}

// The simulated device is drawn as sharp as the program and never asks for
// elevation.
TEST(GlimsimResources, ManifestIsPerMonitorAwareAndAsInvoker) {
    for (const char* name : {"GLIMSIM.EXE", "GLIMCTL.EXE"}) {
        HMODULE module = LoadLibraryExA(testsupport::BinPath(name).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module) << name;
        std::string xml = ManifestOf(module);
        FreeLibrary(module);
        // The console tool needs no DPI awareness, only no elevation.
        if (std::string(name) == "GLIMSIM.EXE") ExpectPerMonitorAware(xml);
        EXPECT_NE(std::string::npos, xml.find("<requestedExecutionLevel level=\"asInvoker\"")) << name << xml;
    }
}
