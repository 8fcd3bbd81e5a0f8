// Runs nphost.exe on a page script written for the case, as a separate process: every page is
// a fresh browser process, so per-process monitor rules start anew for each.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>

#include "nphost.h"

struct PageRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;  // what the page printed
    std::string err;
};

// A Unix path as a Windows path (drive Z:), written as a JScript string literal.
inline std::string ScriptPath(const std::string& unixPath) {
    std::string s = "\"";
    for (char c : nphost::ToUtf8(nphost::WindowsPath(nphost::FromUtf8(unixPath)))) {
        if (c == '\\' || c == '"') s += '\\';
        s += c;
    }
    return s + "\"";
}

inline std::wstring TempFolder() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

inline std::wstring WritePage(const std::string& name, const std::string& script) {
    const std::wstring path = TempFolder() + L"quorvan-page-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              nphost::FromUtf8(name) + L".js";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

namespace page_run_detail {
inline DWORD WINAPI Drain(LPVOID p) {
    auto* args = static_cast<std::pair<HANDLE, std::string*>*>(p);
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(args->first, buf, sizeof buf, &got, nullptr) && got > 0) args->second->append(buf, got);
    return 0;
}
}  // namespace page_run_detail

// nphost.exe PLUGIN ARGS, stdout and stderr kept apart.
inline PageRun RunNphost(const std::wstring& args) {
    PageRun run;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &sa, 0) || !CreatePipe(&errRead, &errWrite, &sa, 0)) return run;
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = L"\"" + nphost::WindowsPath(nphost::FromUtf8(QUORVAN_NPHOST_EXE)) + L"\" \"" +
                       nphost::WindowsPath(nphost::FromUtf8(QUORVAN_PLUGIN_DLL)) + L"\" " + args;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started) {
        std::pair<HANDLE, std::string*> errArgs{errRead, &run.err};
        HANDLE errThread = CreateThread(nullptr, 0, page_run_detail::Drain, &errArgs, 0, nullptr);
        std::pair<HANDLE, std::string*> outArgs{outRead, &run.out};
        page_run_detail::Drain(&outArgs);
        WaitForSingleObject(errThread, INFINITE);
        CloseHandle(errThread);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return run;
}

inline PageRun RunPage(const std::string& name, const std::string& script, const std::wstring& options = L"") {
    return RunNphost(L"--page \"" + WritePage(name, script) + L"\" " + options);
}
