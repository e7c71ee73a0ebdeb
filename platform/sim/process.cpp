// The simulated platform: what a command asks of the system about itself and its input, the
// process's width (IsWow64Process, looked up as on Windows XP before SP2, where it may be
// missing), its rights (the Administrators group in its token), GUID text (rpcrt4) and the
// system's message texts.
#include "platform/sim/state.h"

#include <cctype>
#include <cstring>

using sim::St;

namespace {

// The modules and the one token this platform knows of.
char kernel32Module;
char cfgmgr32Module;
char exeModule;
char currentProcess;

BOOL IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    if (hProcess != &currentProcess || Wow64Process == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    *Wow64Process = St().wow64 ? TRUE : FALSE;
    return TRUE;
}

// IsWow64Process2 (Windows 10 version 1709 and later): the process's machine is
// IMAGE_FILE_MACHINE_UNKNOWN unless it runs under WOW64; the native machine is the system's.
BOOL IsWow64Process2(HANDLE hProcess, USHORT* pProcessMachine, USHORT* pNativeMachine) {
    if (hProcess != &currentProcess || pProcessMachine == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    *pProcessMachine = St().wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    if (pNativeMachine != nullptr) {
        *pNativeMachine = St().arm64 ? IMAGE_FILE_MACHINE_ARM64 : IMAGE_FILE_MACHINE_AMD64;
    }
    return TRUE;
}

} // namespace

namespace sim {

// Calls the handlers, last installed first, until one handles the event. True when one did.
static bool CallHandlers(DWORD ctrlType) {
    std::vector<BOOL (*)(DWORD)> handlers = St().consoleHandlers;
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if ((*it)(ctrlType)) {
            return true;
        }
    }
    return false;
}

void RaiseConsoleEvent(DWORD ctrlType) {
    Event("ConsoleEvent " + std::to_string(ctrlType));
    if (ctrlType == CTRL_C_EVENT || ctrlType == CTRL_BREAK_EVENT) {
        // Handled: the process goes on. Not handled: ExitProcess.
        if (!CallHandlers(ctrlType)) {
            St().consoleEnded = true;
            throw ProcessEnded();
        }
        return;
    }
    if (ctrlType == CTRL_LOGOFF_EVENT || ctrlType == CTRL_SHUTDOWN_EVENT) {
        // SetConsoleCtrlHandler: a console process that loads user32 (setupapi does) is not sent
        // these two events; the system ends it as it ends interactive programs, and no handler
        // runs.
        St().consoleEnded = true;
        throw ProcessEnded();
    }
    // HandlerRoutine: for CTRL_CLOSE_EVENT the system ends the process once the handler
    // returns, whatever it answers, and ends it all the same when the handler has not returned
    // within the system's timeout (5 s by default), wherever the program is. The handler runs on
    // its own thread while the program goes on: until it pauses or returns, then the program
    // goes on; a process whose entry has returned first has ended by itself.
    St().endsAt = St().now + 5000;
    St().handlerClock = St().now;
    St().handlerWaiting = false;
    St().handlerRunning = true;
    St().handlerThread = std::make_unique<std::thread>([ctrlType] {
        (void)CallHandlers(ctrlType);
        std::lock_guard<std::mutex> lock(St().clockMutex);
        St().consoleEnded = !St().entryReturned;
        St().handlerWaiting = true;
        St().handlerRunning = false;
        St().clockMoved.notify_all();
    });
    std::unique_lock<std::mutex> lock(St().clockMutex);
    St().clockMoved.wait(lock, [] { return St().handlerWaiting; });
}

void CheckAlive() {
    if (St().endsAt != 0 && St().now >= St().endsAt) {
        St().consoleEnded = true;
    }
    if (St().consoleEnded) {
        throw ProcessEnded();
    }
}

void Call() {
    if (std::this_thread::get_id() != St().mainThread) {
        return; // a console handler's call
    }
    CheckAlive();
    ++St().calls;
    auto event = St().consoleEventsAtCall.find(St().calls);
    if (event != St().consoleEventsAtCall.end()) {
        const DWORD ctrlType = event->second;
        St().consoleEventsAtCall.erase(event);
        RaiseConsoleEvent(ctrlType);
        CheckAlive();
    }
    if (St().calls == St().endAtCall) {
        if (St().powerCut) {
            // Writes the registry had not flushed are lost (RegFlushKey: until it returns, or
            // the lazy flusher has written them, changes may not be on disk), and file data not
            // flushed (FlushFileBuffers).
            LoseUnflushed();
        }
        St().consoleEnded = true;
        throw ProcessEnded();
    }
}

void Advance(DWORD ms) {
    {
        std::unique_lock<std::mutex> lock(St().clockMutex);
        St().now += ms;
        St().handlerWaiting = false;
        St().clockMoved.notify_all();
        // A handler that pauses runs until it pauses again or returns.
        St().clockMoved.wait(lock, [] { return St().handlerWaiting || !St().handlerRunning; });
    }
    ApplyPlugs();
    CheckAlive();
}

std::string HiveOf(const std::string& path) {
    return Upper(path.substr(0, path.find('\\')));
}

void WillWrite(const std::string& path) {
    auto key = St().keys.find(path);
    std::optional<Key> before =
        key != St().keys.end() ? std::optional<Key>(key->second) : std::nullopt;
    St().unflushed.push_back({HiveOf(path), St().now, [path, before] {
                                  if (before) {
                                      St().keys[path] = *before;
                                  } else {
                                      St().keys.erase(path);
                                  }
                              }});
}

void WillWriteDevice(Device& d) {
    const bool global = d.disabledGlobal;
    const bool config = d.disabledConfig;
    const DWORD other = d.otherConfigFlags;
    Device* device = &d;
    St().unflushed.push_back({"SYSTEM", St().now, [device, global, config, other] {
                                  device->disabledGlobal = global;
                                  device->disabledConfig = config;
                                  device->otherConfigFlags = other;
                              }});
}

} // namespace sim

extern "C" {

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    auto& handlers = St().consoleHandlers;
    if (HandlerRoutine == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER); // ignoring Ctrl+C is not modelled
    }
    if (Add) {
        handlers.push_back(HandlerRoutine);
        return TRUE;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if (*it == HandlerRoutine) {
            handlers.erase(std::next(it).base());
            return TRUE;
        }
    }
    return sim::Fail(ERROR_INVALID_PARAMETER);
}

// The runtime's ASCII case-insensitive comparisons (the "C" locale), as msvcrt has them.
int _strnicmp(const char* string1, const char* string2, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const int c1 = tolower((unsigned char)string1[i]);
        const int c2 = tolower((unsigned char)string2[i]);
        if (c1 != c2 || c1 == 0) {
            return c1 - c2;
        }
    }
    return 0;
}

int _stricmp(const char* string1, const char* string2) {
    return _strnicmp(string1, string2, (size_t)-1);
}

HANDLE GetCurrentProcess(void) {
    return &currentProcess;
}

// The standard handles: pseudo-handles of their own. GetConsoleMode succeeds for a console
// handle only; for one redirected to a file or pipe it fails with ERROR_INVALID_HANDLE.
HANDLE GetStdHandle(DWORD nStdHandle) {
    static char handles[3];
    if (nStdHandle != STD_INPUT_HANDLE && nStdHandle != STD_OUTPUT_HANDLE &&
        nStdHandle != STD_ERROR_HANDLE) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return &handles[(DWORD)-10 - nStdHandle];
}

BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    if (hConsoleHandle != GetStdHandle(STD_ERROR_HANDLE) || !St().console || lpMode == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    *lpMode = 0x0003; // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
    return TRUE;
}

DWORD GetCurrentProcessId(void) {
    return 4242;
}

// GetVersionEx: the size member must be set; with a manifest that declares Windows 10, as the
// program's does, the true version: here Windows 7 SP1 or Windows 10 22H2.
BOOL GetVersionExA(OSVERSIONINFOA* lpVersionInformation) {
    if (lpVersionInformation == nullptr ||
        lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    const bool ten = St().windows8;
    lpVersionInformation->dwMajorVersion = ten ? 10 : 6;
    lpVersionInformation->dwMinorVersion = ten ? 0 : 1;
    lpVersionInformation->dwBuildNumber = ten ? 19045 : 7601;
    lpVersionInformation->dwPlatformId = 2; // VER_PLATFORM_WIN32_NT
    snprintf(lpVersionInformation->szCSDVersion, sizeof(lpVersionInformation->szCSDVersion), "%s",
             ten ? "" : "Service Pack 1");
    return TRUE;
}

// The modules the program finds loaded: kernel32, and cfgmgr32, which it imports.
HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) {
        return &exeModule;
    }
    if (lpModuleName != nullptr &&
        (_stricmp(lpModuleName, "kernel32") == 0 || _stricmp(lpModuleName, "kernel32.dll") == 0)) {
        return &kernel32Module;
    }
    if (lpModuleName != nullptr && _stricmp(lpModuleName, "cfgmgr32.dll") == 0) {
        return &cfgmgr32Module;
    }
    sim::Fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (lpProcName != nullptr && St().hiddenProcs.count(lpProcName) == 0) {
        if (hModule == &kernel32Module && strcmp(lpProcName, "IsWow64Process") == 0) {
            return (FARPROC)(void (*)(void))IsWow64Process;
        }
        // IsWow64Process2: Windows 10 version 1709 and later; no Windows 7 has it.
        if (hModule == &kernel32Module && St().windows8 &&
            strcmp(lpProcName, "IsWow64Process2") == 0) {
            return (FARPROC)(void (*)(void))IsWow64Process2;
        }
        if (hModule == &cfgmgr32Module && strcmp(lpProcName, "CM_Get_HW_Prof_FlagsA") == 0) {
            return (FARPROC)(void (*)(void))CM_Get_HW_Prof_FlagsA;
        }
        // CM_Register_Notification and CM_Unregister_Notification: Windows 8 and later.
        if (hModule == &cfgmgr32Module && St().windows8 &&
            strcmp(lpProcName, "CM_Register_Notification") == 0) {
            return (FARPROC)(void (*)(void))CM_Register_Notification;
        }
        if (hModule == &cfgmgr32Module && St().windows8 &&
            strcmp(lpProcName, "CM_Unregister_Notification") == 0) {
            return (FARPROC)(void (*)(void))CM_Unregister_Notification;
        }
    }
    sim::Fail(127); // ERROR_PROC_NOT_FOUND
    return nullptr;
}

// The path of the program's own file: where an administrator unpacked it, or the one the
// Service Control Manager started.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    const std::string path = St().modulePath.empty() ? sim::kProgramPath : St().modulePath;
    if (hModule != nullptr || lpFilename == nullptr || nSize <= path.size()) {
        sim::Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

// The texts of the errors the tests meet; any other has none, as many Setup API codes have none
// in the system's message table.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    (void)lpSource;
    (void)dwLanguageId;
    (void)Arguments;
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = nullptr;
    switch (dwMessageId) {
    case ERROR_PATH_NOT_FOUND:
        text = "The system cannot find the path specified.\r\n";
        break;
    case ERROR_ACCESS_DENIED:
        text = "Access is denied.\r\n";
        break;
    case ERROR_DISK_FULL:
        text = "There is not enough space on the disk.\r\n";
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
        text = "Not enough memory resources are available to process this command.\r\n";
        break;
    case ERROR_INVALID_PARAMETER:
        text = "The parameter is incorrect.\r\n";
        break;
    case ERROR_NOT_FOUND:
        text = "Element not found.\r\n";
        break;
    default:
        sim::Fail(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const DWORD length = (DWORD)strlen(text);
    if (nSize <= length) {
        sim::Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpBuffer, text, length + 1);
    return length;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid) {
    if (pIdentifierAuthority == nullptr || pSid == nullptr || nSubAuthorityCount == 0 ||
        nSubAuthorityCount > 8) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    // The page on AllocateAndInitializeSid: it can fail, with GetLastError saying why (out of
    // memory, for one).
    if (!St().sidsAllocate) {
        return sim::Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const DWORD rids[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                           nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    std::string bytes = sim::SidOf(pIdentifierAuthority->Value[5],
                                   std::vector<DWORD>(rids, rids + nSubAuthorityCount));
    memcpy(&bytes[2], pIdentifierAuthority->Value, 6);
    BYTE* sid = new BYTE[bytes.size()];
    memcpy(sid, bytes.data(), bytes.size());
    St().sids.insert(sid);
    *pSid = sid;
    return TRUE;
}

// The token's enabled groups: a filtered administrator's Administrators group is deny-only, and
// CheckTokenMembership does not count it.
BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
    if (TokenHandle != nullptr || SidToCheck == nullptr || IsMember == nullptr) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (!St().membershipChecks) {
        return sim::Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const BYTE* sid = (const BYTE*)SidToCheck;
    const std::string bytes((const char*)sid, 8 + 4 * (size_t)sid[1]);
    const std::vector<std::string> sids = sim::TokenSids();
    *IsMember = std::find(sids.begin(), sids.end(), bytes) != sids.end();
    return TRUE;
}

PVOID FreeSid(PSID pSid) {
    St().sids.erase((BYTE*)pSid);
    delete[](BYTE*) pSid;
    return nullptr;
}

// The string form without braces: 8-4-4-4-12 hexadecimal digits, either case.
RPC_STATUS UuidFromStringA(RPC_CSTR StringUuid, UUID* Uuid) {
    const char* text = (const char*)StringUuid;
    if (Uuid == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (text == nullptr || strlen(text) != 36) {
        return RPC_S_INVALID_STRING_UUID;
    }
    BYTE bytes[16];
    for (int i = 0, k = 0; i < 36; k++) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-') {
                return RPC_S_INVALID_STRING_UUID;
            }
        }
        if (!isxdigit((unsigned char)text[i]) || !isxdigit((unsigned char)text[i + 1])) {
            return RPC_S_INVALID_STRING_UUID;
        }
        auto digit = [](char c) {
            return isdigit((unsigned char)c) ? c - '0' : (c | 0x20) - 'a' + 10;
        };
        bytes[k] = (BYTE)(digit(text[i]) << 4 | digit(text[i + 1]));
        i += 2;
    }
    Uuid->Data1 = (DWORD)bytes[0] << 24 | (DWORD)bytes[1] << 16 | (DWORD)bytes[2] << 8 | bytes[3];
    Uuid->Data2 = (WORD)(bytes[4] << 8 | bytes[5]);
    Uuid->Data3 = (WORD)(bytes[6] << 8 | bytes[7]);
    memcpy(Uuid->Data4, bytes + 8, 8);
    return RPC_S_OK;
}

} // extern "C"
