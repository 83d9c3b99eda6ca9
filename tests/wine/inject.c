// Test scaffolding for the Windows build under Wine; never part of a release.
//
// inject.exe <dll> <program> [arguments...]: starts the program, waits until its window
// takes input, loads the DLL into it (commwait.dll: see there why), prints "injected", and
// then waits for the program and exits with its exit code. The program itself is the one
// users run, byte for byte; nothing of this is linked into it.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: inject <dll> <program> [arguments...]\n");
        return 2;
    }
    wchar_t dll[MAX_PATH];
    if (!GetFullPathNameW(argv[1], MAX_PATH, dll, NULL))
        return 2;
    wchar_t command[4096] = L"";
    for (int i = 2; i < argc; ++i) {
        wcsncat(command, L"\"", 4095 - wcslen(command));
        wcsncat(command, argv[i], 4095 - wcslen(command));
        wcsncat(command, i + 1 < argc ? L"\" " : L"\"", 4095 - wcslen(command));
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fwprintf(stderr, L"inject: cannot start %ls (%lu)\n", argv[2], GetLastError());
        return 3;
    }
    WaitForInputIdle(process.hProcess, 60000);

    const SIZE_T size = (wcslen(dll) + 1) * sizeof(wchar_t);
    void *remote = VirtualAllocEx(process.hProcess, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    HANDLE loader = NULL;
    if (remote && WriteProcessMemory(process.hProcess, remote, dll, size, NULL)) {
        const FARPROC loadLibrary
            = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
        loader = CreateRemoteThread(process.hProcess, NULL, 0,
                                    (LPTHREAD_START_ROUTINE)(void *)loadLibrary, remote, 0, NULL);
    }
    DWORD loaded = 0;
    if (loader) {
        WaitForSingleObject(loader, 30000);
        GetExitCodeThread(loader, &loaded);
    }
    if (!loaded) {
        fwprintf(stderr, L"inject: %ls was not loaded into %ls\n", dll, argv[2]);
        TerminateProcess(process.hProcess, 4);
        return 4;
    }
    printf("injected\n");
    fflush(stdout);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return (int)code;
}
