// Shared by the soft token tests: the tool, run as a second process, and file output.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

constexpr const char* kProvider = "Quorvan Soft Token CSP";

// Unix paths given on the command line reach the Windows side through drive Z:.
inline std::string WindowsPath(std::string unix) {
    for (char& c : unix)
        if (c == '/') c = '\\';
    return "Z:" + unix;
}

inline std::string OutputFolder() {
    const char* d = std::getenv("SOFTTOKEN_TEST_OUT");
    return d ? d : "/tmp";
}

inline std::string ToolPath() {
    const char* t = std::getenv("SOFTTOKEN_TOOL");
    return t ? WindowsPath(t) : "softtoken.exe";
}

// Runs `softtoken ARGS`; returns its exit code and fills output.
inline int RunToolOutput(const std::string& args, std::string& output) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0)) return -1;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + ToolPath() + "\" " + args;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(read);
        CloseHandle(write);
        return -1;
    }
    CloseHandle(write);
    char buffer[512];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof(buffer), &n, nullptr) && n) output.append(buffer, n);
    CloseHandle(read);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

inline int RunToolCode(const std::string& args) {
    std::string ignored;
    return RunToolOutput(args, ignored);
}

inline std::string RunTool(const std::string& args) {
    std::string out;
    RunToolOutput(args, out);
    return out;
}

// The whole file; empty when it cannot be read.
inline std::vector<BYTE> ReadAll(const std::string& path) {
    std::vector<BYTE> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    BYTE buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

inline void WriteFileBytes(const std::string& path, const std::vector<BYTE>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}
