// `softtoken install` / `uninstall` in both registry views. A process of its own: it must not
// hold the CSP loaded while the tool replaces the DLL files. It leaves the key installed for
// the 64-bit view only, as the fixture made it.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

const std::string kKey = std::string("SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\") + kProvider;

struct Registration {
    bool present = false;
    std::string image;
    DWORD type = 0;
};

Registration Read(REGSAM view) {
    Registration r;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return r;
    r.present = true;
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image) - 1, kind = 0;
    if (RegQueryValueExA(key, "Image Path", nullptr, &kind, reinterpret_cast<BYTE*>(image), &size) == ERROR_SUCCESS &&
        kind == REG_SZ)
        r.image = image;
    size = sizeof(r.type);
    RegQueryValueExA(key, "Type", nullptr, &kind, reinterpret_cast<BYTE*>(&r.type), &size);
    RegCloseKey(key);
    return r;
}

std::string Folder(bool wow64) {
    char path[MAX_PATH] = {};
    if (wow64) GetSystemWow64DirectoryA(path, sizeof(path));
    else GetSystemDirectoryA(path, sizeof(path));
    return std::string(path) + "\\";
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const char* const kFiles[] = {"QuorvanSoftCsp.dll", "QuorvanSoftP11.dll"};

}  // namespace

TEST(SoftInstall, BothViewsWithThe32BitDlls) {
    const std::string dll32 = WindowsPath(OutputFolder()) + "\\dll32\\";
    const std::string dll64 = WindowsPath(std::string(std::getenv("SOFTTOKEN_TOOL")));
    const std::string dir64 = dll64.substr(0, dll64.find_last_of('\\') + 1);
    ASSERT_TRUE(Exists(dll32 + kFiles[0])) << "make_dll32.sh has not run";
    const std::string sys64 = Folder(false), sys32 = Folder(true);

    // Refused before anything changes: the wrong architecture, a missing folder.
    struct Refusal {
        std::string args;
        const char* message;
    } refusals[] = {
        {"install --dll32 \"" + dir64 + "\"", "is not a 32-bit DLL"},  // ends in \" on purpose
        {"install --dll32 Z:\\no\\such\\folder", "cannot read"},
    };
    for (const Refusal& c : refusals) {
        std::string out;
        EXPECT_EQ(RunToolOutput(c.args, out), 1) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
        EXPECT_FALSE(Read(KEY_WOW64_32KEY).present) << c.args;
    }

    std::string out;
    ASSERT_EQ(RunToolOutput("install --dll32 " + dll32.substr(0, dll32.size() - 1), out), 0) << out;
    Registration r64 = Read(KEY_WOW64_64KEY), r32 = Read(KEY_WOW64_32KEY);
    ASSERT_TRUE(r64.present);
    ASSERT_TRUE(r32.present);
    EXPECT_EQ(r64.type, static_cast<DWORD>(PROV_RSA_FULL));
    EXPECT_EQ(r32.type, static_cast<DWORD>(PROV_RSA_FULL));
    EXPECT_EQ(_stricmp(r64.image.c_str(), (sys64 + kFiles[0]).c_str()), 0) << r64.image;
    EXPECT_EQ(_stricmp(r32.image.c_str(), (sys32 + kFiles[0]).c_str()), 0) << r32.image;
    for (const char* file : kFiles) {
        EXPECT_EQ(ReadAll(sys32 + file), ReadAll(dll32 + file)) << file << " in the 32-bit folder";
        EXPECT_EQ(ReadAll(sys64 + file), ReadAll(dir64 + file)) << file << " in the 64-bit folder";
    }

    ASSERT_EQ(RunToolCode("uninstall"), 0);
    EXPECT_FALSE(Read(KEY_WOW64_64KEY).present);
    EXPECT_FALSE(Read(KEY_WOW64_32KEY).present);
    for (const char* file : kFiles) {
        EXPECT_FALSE(Exists(sys32 + file)) << file;
        EXPECT_FALSE(Exists(sys64 + file)) << file;
    }
    EXPECT_EQ(RunToolCode("uninstall"), 0) << "uninstalling twice is no error";

    // Back to the fixture's state: the 64-bit view only, and the CSP works from there.
    ASSERT_EQ(RunToolCode("install"), 0);
    EXPECT_TRUE(Read(KEY_WOW64_64KEY).present);
    EXPECT_FALSE(Read(KEY_WOW64_32KEY).present);
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        << std::hex << GetLastError();
    CryptReleaseContext(prov, 0);
    HMODULE p11 = LoadLibraryA("QuorvanSoftP11.dll");
    EXPECT_NE(p11, nullptr);
    if (p11) FreeLibrary(p11);
}
