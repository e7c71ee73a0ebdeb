// What donglectl's verbs share: the end of a run, error texts, GUID text, the words of
// verdicts, console events.
#include "donglectl/shared.h"

#include "donglecensus_version.h"

void NoteOwnStatus(CtlOutput* pOut, const char* word, const char* text) {
    pOut->ownWord = word;
    (void)snprintf(pOut->szMessage, sizeof(pOut->szMessage), "%s", text);
}

int OwnStatus(CtlOutput* pOut, DWORD status, const char* word, const char* message) {
    (void)fprintf(stderr, "donglectl: %s\n", message);
    NoteOwnStatus(pOut, word, message);
    return (int)status;
}

DWORD LastErrorOrGeneric() {
    const DWORD dwError = GetLastError();
    return dwError != 0 ? dwError : (DWORD)ERROR_GEN_FAILURE;
}

void FormatError(DWORD dwError, char* szText, size_t cchText) {
    char szMessage[200];
    SystemText(dwError, szMessage, sizeof(szMessage));
    (void)snprintf(szText, cchText, "%s%s(error 0x%08lX)", szMessage,
                   szMessage[0] != '\0' ? " " : "", (unsigned long)dwError);
}

// The codes a run can pass through: from the device list, the installer, the registry. The
// Setup API's own codes (0xE000xxxx) have no text in the system's message table: theirs, from
// the meaning setupapi.h and Microsoft's pages give each.
static const struct {
    DWORD code;
    const char* name;
    const char* text; // NULL: the system has one
} errorNames[] = {
    {2, "ERROR_FILE_NOT_FOUND", NULL},
    {3, "ERROR_PATH_NOT_FOUND", NULL},
    {5, "ERROR_ACCESS_DENIED", NULL},
    {6, "ERROR_INVALID_HANDLE", NULL},
    {8, "ERROR_NOT_ENOUGH_MEMORY", NULL},
    {13, "ERROR_INVALID_DATA", NULL},
    {29, "ERROR_WRITE_FAULT", NULL},
    {31, "ERROR_GEN_FAILURE", NULL},
    {87, "ERROR_INVALID_PARAMETER", NULL},
    {170, "ERROR_BUSY", NULL},
    {206, "ERROR_FILENAME_EXCED_RANGE", NULL},
    {112, "ERROR_DISK_FULL", NULL},
    {122, "ERROR_INSUFFICIENT_BUFFER", NULL},
    {259, "ERROR_NO_MORE_ITEMS", NULL},
    {740, "ERROR_ELEVATION_REQUIRED", NULL},
    {1006, "ERROR_FILE_INVALID", NULL},
    {1063, "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT", NULL},
    {1072, "ERROR_SERVICE_MARKED_FOR_DELETE", NULL},
    {1168, "ERROR_NOT_FOUND", NULL},
    {1223, "ERROR_CANCELLED", NULL},
    {1460, "ERROR_TIMEOUT", NULL},
    {1307, "ERROR_INVALID_OWNER", NULL},
    {1336, "ERROR_INVALID_ACL", NULL},
    {1784, "ERROR_INVALID_USER_BUFFER", NULL},
    {3010, "ERROR_SUCCESS_REBOOT_REQUIRED", NULL},
    {0xE0000200, "ERROR_NO_ASSOCIATED_CLASS", "The device has no setup class."},
    {0xE0000206, "ERROR_INVALID_CLASS", "The device's setup class is not valid."},
    {0xE0000209, "ERROR_INVALID_REG_PROPERTY", "The device property is not valid."},
    {0xE000020B, "ERROR_NO_SUCH_DEVINST", "The device is not in the device tree (unplugged?)."},
    {0xE000020D, "ERROR_INVALID_CLASS_INSTALLER",
     "The device's class installer is not valid or failed."},
    {0xE000020E, "ERROR_DI_DO_DEFAULT", "The class installer left the change to the default."},
    {0xE0000210, "ERROR_INVALID_HWPROFILE", "The hardware profile is not valid."},
    {0xE0000211, "ERROR_NO_DEVICE_SELECTED", "No device was selected for the change."},
    {0xE0000215, "ERROR_NO_CLASSINSTALL_PARAMS", "The change was asked without its parameters."},
    {0xE000021E, "ERROR_NO_SUCH_INTERFACE_CLASS", "The interface class is not known."},
    {0xE0000231, "ERROR_NOT_DISABLEABLE",
     "Windows does not let this device be disabled (it is needed to start the system)."},
    {0xE0000232, "ERROR_CANT_REMOVE_DEVINST", "The device cannot be removed."},
    {0xE0000235, "ERROR_IN_WOW64",
     "A 32-bit program cannot change devices on 64-bit Windows (or on Windows on ARM)."},
};

static size_t ErrorEntry(DWORD dwError) {
    size_t i = 0;
    while (i < sizeof(errorNames) / sizeof(errorNames[0]) && errorNames[i].code != dwError) {
        i++;
    }
    return i;
}

const char* ErrorName(DWORD dwError) {
    const size_t i = ErrorEntry(dwError);
    return i < sizeof(errorNames) / sizeof(errorNames[0]) ? errorNames[i].name : NULL;
}

void SystemText(DWORD dwError, char* szText, size_t cchText) {
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                               dwError, 0, szText, (DWORD)cchText, NULL);
    while (cch > 0 && (szText[cch - 1] == '\r' || szText[cch - 1] == '\n')) {
        cch--;
    }
    szText[cch < cchText ? cch : 0] = '\0';
    const size_t i = ErrorEntry(dwError);
    if (szText[0] == '\0' && i < sizeof(errorNames) / sizeof(errorNames[0]) &&
        errorNames[i].text != NULL) {
        (void)snprintf(szText, cchText, "%s", errorNames[i].text);
    }
}

void JsonError(JsonWriter* pJson, const char* key, DWORD dwError, const char* ownWord,
               const char* ownText) {
    if (dwError == 0) {
        JsonString(pJson, key, NULL, 0);
        return;
    }
    char szHex[12];
    char szText[256];
    szText[0] = '\0';
    (void)snprintf(szHex, sizeof(szHex), "%08lX", (unsigned long)dwError);
    if (ownWord == NULL) {
        SystemText(dwError, szText, sizeof(szText));
    }
    JsonOpen(pJson, key, '{');
    JsonSigned(pJson, "code", (long)(LONG)dwError);
    JsonString(pJson, "hex", szHex, sizeof(szHex));
    JsonString(pJson, "name", ownWord != NULL ? ownWord : ErrorName(dwError), 64);
    JsonString(pJson, "source", ownWord != NULL ? "donglectl" : "windows", 16);
    JsonString(pJson, "text", ownWord != NULL ? ownText : szText[0] != '\0' ? szText : NULL, 320);
    JsonClose(pJson, '}');
}

void JsonCount(JsonWriter* pJson, const char* key, bool bKnown, DWORD value) {
    if (bKnown) {
        JsonNumber(pJson, key, value);
    } else {
        JsonString(pJson, key, NULL, 0);
    }
}

void JsonMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, void* pContext) {
    JsonWriter* pJson = (JsonWriter*)pContext;
    char szInstanceId[cbIdBuffer];
    const bool bId = SetupDiGetDeviceInstanceIdA(hDevInfo, pDid, szInstanceId, sizeof(szInstanceId),
                                                 NULL) != FALSE;
    JsonOpen(pJson, NULL, '{');
    JsonString(pJson, "instance_id", bId ? szInstanceId : NULL, sizeof(szInstanceId));
    JsonString(pJson, "identifier", buffer, cbIdBuffer);
    JsonClose(pJson, '}');
}

void BeginDocument(CtlOutput* pOut, const char* verb) {
    JsonStart(&pOut->json);
    JsonString(&pOut->json, "program", "donglectl", 16);
    JsonString(&pOut->json, "version", DONGLE_VERSION_TEXT, 32);
    JsonString(&pOut->json, "verb", verb, 16);
}

int EndRun(CtlOutput* pOut, int status) {
    if (pOut->bJson) {
        char szHex[12];
        (void)snprintf(szHex, sizeof(szHex), "%08lX", (unsigned long)(DWORD)status);
        while (pOut->json.depth > 1) {
            JsonClose(&pOut->json, pOut->json.closer[pOut->json.depth]);
        }
        JsonSigned(&pOut->json, "exit", (long)(LONG)(DWORD)status);
        JsonString(&pOut->json, "exit_hex", szHex, sizeof(szHex));
        JsonError(&pOut->json, "error", pOut->bCountExit ? 0 : (DWORD)status, pOut->ownWord,
                  pOut->szMessage);
        JsonFinish(&pOut->json);
    }
    if (fflush(stdout) != 0 || ferror(stdout) != 0) {
        (void)fputs("donglectl: standard output could not be written (closed, full, or a broken "
                    "pipe): what it printed is incomplete\n",
                    stderr);
        if (status == 0 || (DWORD)status == dwRestartNeeded) {
            status = (int)dwOutputLost;
        }
    }
    return status;
}

int ReportError(const char* what, DWORD dwError) {
    char szError[256];
    FormatError(dwError, szError, sizeof(szError));
    (void)fprintf(stderr, "donglectl: %s: %s\n", what, szError);
    return (int)dwError;
}

int ListFailed(DWORD dwError) {
    return ReportError("the device list cannot be read", dwError);
}

void FormatGuid(const GUID* pGuid, char* szText, size_t cchText) {
    (void)snprintf(szText, cchText, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                   (unsigned long)pGuid->Data1, pGuid->Data2, pGuid->Data3, pGuid->Data4[0],
                   pGuid->Data4[1], pGuid->Data4[2], pGuid->Data4[3], pGuid->Data4[4],
                   pGuid->Data4[5], pGuid->Data4[6], pGuid->Data4[7]);
}

// Each verdict's stable word, its text, and for a node passed over the next step to take.
static const struct {
    DongleVerdict verdict;
    const char* token;
    const char* text;
    const char* next;
} verdicts[] = {
    {dvSelected, "selected", "selected", NULL},
    {dvSelectedByHardwareId, "selected-by-hardware-id",
     "selected: not present, known by its first hardware ID", NULL},
    {dvNoDevice, "no-device", "passed over: Windows did not give the interface's device",
     "run the verb again; if it stays, restart Windows"},
    {dvNoHardwareIds, "no-hardware-ids", "passed over: the hardware IDs cannot be read",
     "unplug the dongle and plug it in again"},
    {dvAnotherProduct, "another-product", "passed over: another product", NULL},
    {dvSecondProduct, "second-product",
     "passed over: the dongle's second product (USB\\VID_7B2E&PID_0B74), which switching does "
     "not take: only the first product's nodes are switched",
     "switch it with Device Manager if it must be"},
    {dvLaterHardwareId, "later-hardware-id",
     "passed over: only a later hardware ID names the dongle", NULL},
    {dvNotInTree, "not-present", "passed over: not present", "plug the dongle in"},
    {dvNoStatus, "no-status", "passed over: the status cannot be read",
     "run the verb again; if it stays, unplug the dongle and plug it in again"},
    {dvNoAncestry, "no-ancestry", "passed over: Windows did not give its parent or grandparent",
     "plug the dongle into another port, directly rather than through a hub"},
    {dvNoGrandparentId, "no-grandparent-id",
     "passed over: the grandparent's instance ID cannot be read",
     "plug the dongle into another port, directly rather than through a hub"},
    {dvShortGrandparentId, "short-grandparent-id",
     "passed over: the grandparent's instance ID is shorter than 6 characters",
     "plug the dongle into another port, directly rather than through a hub"},
    {dvNoInterfaceOfClass, "no-interface-of-class",
     "passed over: it exposes no interface of the class",
     "give one of the interface classes that \"donglectl list\" shows on the node"},
    {dvInterfaceNotPresent, "interface-not-present",
     "passed over: its interface of the class is not present",
     "enable it first: it is disabled, or its driver has not started"},
    {dvNoInterface, "no-interface",
     "passed over: it exposes no device interface, so no interface class can select it",
     "switch it through its parent device's class, or with Device Manager"},
};

// The entry of the table for a verdict; the last one for a verdict it lacks.
static size_t VerdictEntry(DongleVerdict verdict) {
    const size_t n = sizeof(verdicts) / sizeof(verdicts[0]);
    size_t i = 0;
    while (i + 1 < n && verdicts[i].verdict != verdict) {
        i++;
    }
    return i;
}

const char* VerdictToken(DongleVerdict verdict) {
    return verdicts[VerdictEntry(verdict)].token;
}

const char* VerdictText(DongleVerdict verdict) {
    return verdicts[VerdictEntry(verdict)].text;
}

const char* VerdictNextStep(DongleVerdict verdict) {
    return verdicts[VerdictEntry(verdict)].next;
}

// Asked to stop by the console. Set by the handler, which Windows runs on a thread of its own,
// with the event that ends a pause early.
static volatile LONG lStopAsked = 0;
static HANDLE hStopAsked = NULL;

// Ctrl+C, Ctrl+Break, closing the console: asks the verb to stop, ending a pause at once. Closing
// ends the process once the handler returns, or when it has not returned within the system's
// timeout (5 s by default, HandlerRoutine's page), wherever the program is: the handler holds
// it, up to 4 s, until the verb has stopped. Logging off and shutting down call no handler of a
// process that loads user32 (setupapi does; SetConsoleCtrlHandler's page): Windows ends it. What
// reset must not leave half done whatever ends it, its recovery entry covers (journal.cpp).
static BOOL WINAPI OnConsoleEvent(DWORD ctrlType) {
    InterlockedExchange(&lStopAsked, 1);
    if (hStopAsked != NULL) {
        (void)SetEvent(hStopAsked);
    }
    if (ctrlType == CTRL_C_EVENT || ctrlType == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    for (int i = 0; i < 40 && InterlockedCompareExchange(&lStopAsked, 1, 1) != 2; i++) {
        Sleep(100);
    }
    return TRUE;
}

void WatchConsoleEvents() {
    (void)InterlockedExchange(&lStopAsked, 0);
    hStopAsked = CreateEventA(NULL, TRUE, FALSE, NULL);
    (void)SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int Cancelled(CtlOutput* pOut, const char* what) {
    static const char szStopped[] = "stopped by Ctrl+C, Ctrl+Break or a closing console";
    NoteOwnStatus(pOut, "cancelled", szStopped);
    if (what != NULL) {
        (void)fprintf(stderr, "donglectl: %s %s\n", what, szStopped);
    }
    return (int)ERROR_CANCELLED;
}

HANDLE StopEvent() {
    return hStopAsked;
}

bool PauseUnlessStopped(DWORD dwMilliseconds) {
    if (hStopAsked == NULL || WaitForSingleObject(hStopAsked, dwMilliseconds) == WAIT_FAILED) {
        Sleep(dwMilliseconds);
    }
    return !StopAsked();
}

bool StopAsked() {
    return InterlockedCompareExchange(&lStopAsked, 0, 0) != 0;
}

// The verb has stopped: a handler holding the process may let it end.
int Finished(int status) {
    (void)InterlockedCompareExchange(&lStopAsked, 2, 1);
    return status;
}

// Print's file, what is buffered for it, and the first error a write met.
static HANDLE hTextFile = NULL;
static char textBuffer[4096];
static DWORD cbTextBuffered = 0;
static DWORD dwTextError = 0;

static void FlushText() {
    DWORD cbWritten = 0;
    if (cbTextBuffered > 0 && dwTextError == 0 &&
        (!WriteFile(hTextFile, textBuffer, cbTextBuffered, &cbWritten, NULL) ||
         cbWritten != cbTextBuffered)) {
        dwTextError = LastErrorOrGeneric();
    }
    cbTextBuffered = 0;
}

void PrintText(const char* text, bool bWhole) {
    if (hTextFile == NULL) {
        (void)fputs(text, stdout);
        return;
    }
    if (!bWhole && dwTextError == 0) {
        dwTextError = ERROR_INSUFFICIENT_BUFFER;
    }
    for (const char* p = text; *p != '\0'; p++) {
        if (cbTextBuffered + 2 > sizeof(textBuffer)) {
            FlushText();
        }
        if (*p == '\n') {
            textBuffer[cbTextBuffered++] = '\r';
        }
        textBuffer[cbTextBuffered++] = *p;
    }
}

DWORD TextToFile(HANDLE hFile) {
    if (hTextFile != NULL) {
        FlushText();
    }
    const DWORD dwError = dwTextError;
    hTextFile = hFile;
    cbTextBuffered = 0;
    dwTextError = 0;
    return dwError;
}

FARPROC Kernel32Proc(const char* name) {
    HMODULE hKernel = GetModuleHandleA("kernel32");
    return hKernel != NULL ? GetProcAddress(hKernel, name) : NULL;
}

int AdministratorRights() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID pAdministrators = NULL;
    BOOL bMember = FALSE;
    int rights = -1;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &pAdministrators)) {
        if (CheckTokenMembership(NULL, pAdministrators, &bMember)) {
            rights = bMember ? 1 : 0;
        }
        FreeSid(pAdministrators);
    }
    return rights;
}

// IsWow64Process (looked up: Windows XP before SP2 lacks it, and there is no 64-bit Windows there)
// tells WOW64; IsWow64Process2 (Windows 10 version 1709 and later) names the native machine,
// ARM64 included. Without it, WOW64 means x64, and otherwise Windows is the process's own width.
const char* WindowsMachine(bool* pbWow64) {
    typedef BOOL(WINAPI * IsWow64Process2Fn)(HANDLE, USHORT*, USHORT*);
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    FARPROC proc2 = Kernel32Proc("IsWow64Process2");
    FARPROC proc = Kernel32Proc("IsWow64Process");
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    BOOL bWow64 = FALSE;
    *pbWow64 = proc != NULL &&
               ((IsWow64ProcessFn)(void (*)(void))proc)(GetCurrentProcess(), &bWow64) && bWow64;
    if (proc2 != NULL && ((IsWow64Process2Fn)(void (*)(void))proc2)(
                             GetCurrentProcess(), &processMachine, &nativeMachine)) {
        return nativeMachine == IMAGE_FILE_MACHINE_ARM64   ? "ARM64"
               : nativeMachine == IMAGE_FILE_MACHINE_AMD64 ? "x64"
                                                           : "x86";
    }
    return *pbWow64 || sizeof(void*) == 8 ? "x64" : "x86";
}
