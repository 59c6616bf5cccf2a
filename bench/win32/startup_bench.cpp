// Start-up of varnel.exe: from CreateProcess until the main window is visible, the working set a
// moment later, and the time from WM_CLOSE to the end of the process. Runs the program a few times
// and prints one line per run. Usage: varnel_startup_bench VARNEL.EXE [RUNS]
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

bool RunOnce(const wchar_t* exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + std::wstring(exe) + L"\"";
    LARGE_INTEGER started, shown, closing, ended;
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(exe, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start the program (error %lu)\n", GetLastError());
        return false;
    }
    HWND window = nullptr;
    for (int waited = 0; waited < 30000; ++waited) {
        window = FindWindowW(L"VarnelMainWindow", nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            break;
        }
        window = nullptr;
        Sleep(1);
    }
    QueryPerformanceCounter(&shown);
    if (window == nullptr) {
        std::fprintf(stderr, "no main window within 30 s\n");
        TerminateProcess(process.hProcess, 1);
        return false;
    }
    Sleep(1000);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory));
    QueryPerformanceCounter(&closing);
    PostMessageW(window, WM_CLOSE, 0, 0);
    const bool exited = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    QueryPerformanceCounter(&ended);
    std::printf("start to main window %.1f ms, working set %.1f MiB (peak %.1f MiB), close %.1f ms%s\n",
                Milliseconds(started, shown), static_cast<double>(memory.WorkingSetSize) / 1048576.0,
                static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0, Milliseconds(closing, ended),
                exited ? "" : " (did not end)");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exited;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: varnel_startup_bench VARNEL.EXE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10))) : 5;
    for (int i = 0; i < runs; ++i) {
        if (!RunOnce(argv[1])) {
            return 1;
        }
    }
    return 0;
}
