// Runs nphost.exe as a page's test would: command line in UTF-16, result bytes on stdout.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "nphost.h"

namespace {

struct ProcessRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
};

ProcessRun RunNphost(const std::wstring& args) {
    ProcessRun run;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = L"\"" + nphost::WindowsPath(nphost::FromUtf8(QUORVAN_NPHOST_EXE)) + L"\" " + args;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    CloseHandle(writeEnd);
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) run.out.append(buf, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return run;
}

std::wstring Dll() {
    return L"\"" + nphost::WindowsPath(nphost::FromUtf8(QUORVAN_PLUGIN_DLL)) + L"\"";
}

TEST(NphostCli, ResultsAndExitCodes) {
    struct Case {
        std::wstring args;
        DWORD exitCode;
        std::string out;
    } cases[] = {
        {Dll() + L" Base64Encode \x4E2D\x6587", 0, "1tDOxA=="},
        {Dll() + L" Base64Decode 1tDOxA==", 0, "\xD6\xD0\xCE\xC4"},
        {Dll() + L" Base64Encode \"\"", 0, ""},
        {Dll() + L" Clear", 0, "0"},
        {Dll() + L" StartUKeyMonitoring cb int:100 x.dll", 0, "0"},
        {Dll() + L" HashData abc int:1", 0, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {Dll() + L" SignData abc int:1", 1, "call failed\n"},
        {Dll() + L" base64encode abc", 2, "exception: Unknown method!\n0"},
        {Dll(), 64, ""},
        {Dll() + L" Clear int:12x", 64, ""},
        {L"", 64, ""},
    };
    for (const Case& k : cases) {
        const ProcessRun r = RunNphost(k.args);
        EXPECT_EQ(r.exitCode, k.exitCode) << nphost::ToUtf8(k.args);
        EXPECT_EQ(r.out, k.out) << nphost::ToUtf8(k.args);
    }
}

}  // namespace
