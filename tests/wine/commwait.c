// Test scaffolding for the Windows build under Wine; never part of a release.
//
// Qt's serial port waits for a port's events with WaitCommEvent on an OVERLAPPED without an
// event, and learns of its completion from the I/O completion port the handle is bound to.
// Wine 8 runs such a call synchronously in the calling thread ("we have to explicitly wait
// if no event is provided", dlls/ntdll/unix/serial.c) and posts nothing to the completion
// port, so under Wine the window freezes until a byte comes, and never reads it.
// Loaded into the program (see inject.c), this DLL rewrites the program's imports so that
// such a call returns ERROR_IO_PENDING at once, as on Windows; a thread of its own waits
// with an event of its own and posts the result to the handle's completion port. Every other
// call goes to Wine as it is.
#include <windows.h>

#include <string.h>

typedef BOOL(WINAPI *WaitCommEventFn)(HANDLE, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI *CreateIoCompletionPortFn)(HANDLE, HANDLE, ULONG_PTR, DWORD);
typedef BOOL(WINAPI *CancelIoFn)(HANDLE);

static WaitCommEventFn g_waitCommEvent;
static CreateIoCompletionPortFn g_createIoCompletionPort;
static CancelIoFn g_cancelIo;

// A wait this DLL issued for the program's, on an OVERLAPPED of its own.
typedef struct
{
    HANDLE file;
    LPDWORD mask;
    LPOVERLAPPED overlapped; // the program's
    OVERLAPPED own;
} Wait;

// Which completion port, with which key, each handle is bound to; and its wait under way.
typedef struct
{
    HANDLE file;
    HANDLE port;
    ULONG_PTR key;
    Wait *pending;
} Binding;

enum { kBindings = 64 };
static Binding g_bindings[kBindings];
static CRITICAL_SECTION g_lock;

static Binding *bindingOf(HANDLE file)
{
    for (int i = 0; i < kBindings; ++i) {
        if (g_bindings[i].file == file)
            return &g_bindings[i];
    }
    return NULL;
}

static HANDLE WINAPI hookCreateIoCompletionPort(HANDLE file, HANDLE existing, ULONG_PTR key,
                                                DWORD threads)
{
    const HANDLE port = g_createIoCompletionPort(file, existing, key, threads);
    if (port && file != INVALID_HANDLE_VALUE) {
        EnterCriticalSection(&g_lock);
        Binding *b = bindingOf(file);
        for (int i = 0; !b && i < kBindings; ++i) {
            if (!g_bindings[i].file && !g_bindings[i].pending)
                b = &g_bindings[i];
        }
        if (b) {
            b->file = file;
            b->port = port;
            b->key = key;
        }
        LeaveCriticalSection(&g_lock);
    }
    return port;
}

static DWORD WINAPI waitThread(LPVOID parameter)
{
    Binding *b = (Binding *)parameter;
    EnterCriticalSection(&g_lock);
    Wait *w = b->pending;
    LeaveCriticalSection(&g_lock);
    DWORD mask = 0;
    DWORD bytes = 0;
    BOOL ok = g_waitCommEvent(w->file, &mask, &w->own);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(w->file, &w->own, &bytes, TRUE);
    EnterCriticalSection(&g_lock);
    b->pending = NULL;
    const HANDLE port = b->port;
    const ULONG_PTR key = b->key;
    const BOOL current = b->file == w->file;
    LeaveCriticalSection(&g_lock);
    // A wait cancelled because the program closes the port has nobody to tell. Otherwise
    // the program hears of it as Windows would have told it.
    if (current || ok) {
        *w->mask = ok ? mask : 0;
        w->overlapped->Internal = ok ? 0 : (ULONG_PTR)0xC0000120; // STATUS_CANCELLED
        w->overlapped->InternalHigh = bytes;
        PostQueuedCompletionStatus(port, bytes, key, w->overlapped);
    }
    CloseHandle(w->own.hEvent);
    HeapFree(GetProcessHeap(), 0, w);
    return 0;
}

static BOOL WINAPI hookWaitCommEvent(HANDLE file, LPDWORD mask, LPOVERLAPPED overlapped)
{
    if (!overlapped || overlapped->hEvent)
        return g_waitCommEvent(file, mask, overlapped);
    EnterCriticalSection(&g_lock);
    Binding *b = bindingOf(file);
    if (!b || b->pending) {
        LeaveCriticalSection(&g_lock);
        return g_waitCommEvent(file, mask, overlapped);
    }
    Wait *w = (Wait *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Wait));
    w->file = file;
    w->mask = mask;
    w->overlapped = overlapped;
    w->own.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    b->pending = w;
    LeaveCriticalSection(&g_lock);

    overlapped->Internal = (ULONG_PTR)0x103; // STATUS_PENDING
    const HANDLE thread = CreateThread(NULL, 0, waitThread, b, 0, NULL);
    if (thread)
        CloseHandle(thread);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

// Qt cancels the port's I/O from its own thread before it closes the handle; the wait this
// DLL issued belongs to another thread, so it is cancelled by name.
static BOOL WINAPI hookCancelIo(HANDLE file)
{
    const BOOL ok = g_cancelIo(file);
    EnterCriticalSection(&g_lock);
    Binding *b = bindingOf(file);
    if (b && b->pending)
        CancelIoEx(file, &b->pending->own);
    if (b)
        b->file = NULL; // the handle is about to close; its value may come back for another
    LeaveCriticalSection(&g_lock);
    return ok;
}

// Points the program's own import of `name` (from KERNEL32) at `hook`.
static void redirect(const char *name, void *hook)
{
    BYTE *base = (BYTE *)GetModuleHandleW(NULL);
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)base;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY imports
        = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR *d
         = (const IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
         d->Name; ++d) {
        if (lstrcmpiA((const char *)(base + d->Name), "KERNEL32.dll") != 0)
            continue;
        const IMAGE_THUNK_DATA *names
            = (const IMAGE_THUNK_DATA *)(base
                                         + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                  : d->FirstThunk));
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME *byName
                = (const IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)byName->Name, name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &protection);
            slots->u1.Function = (ULONG_PTR)hook;
            VirtualProtect(&slots->u1.Function, sizeof(void *), protection, &protection);
        }
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    InitializeCriticalSection(&g_lock);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    g_waitCommEvent = (WaitCommEventFn)(void *)GetProcAddress(kernel32, "WaitCommEvent");
    g_createIoCompletionPort
        = (CreateIoCompletionPortFn)(void *)GetProcAddress(kernel32, "CreateIoCompletionPort");
    g_cancelIo = (CancelIoFn)(void *)GetProcAddress(kernel32, "CancelIo");
    redirect("WaitCommEvent", (void *)hookWaitCommEvent);
    redirect("CreateIoCompletionPort", (void *)hookCreateIoCompletionPort);
    redirect("CancelIo", (void *)hookCancelIo);
    return TRUE;
}
