// donglectl: the device module as a command. Shows the dongle's device nodes and switches its
// nodes of one device-interface class off and on again. Results go to standard output, messages
// to standard error.
#include "census/identity.h"
#include "control/control.h"

#include "donglecensus_version.h"

// Exit statuses besides 0 and the Windows error code of a device list that cannot be had: a
// usage error, and the two refusals, each the system's own code for its cause.
enum { exitUsage = 2 };
static const DWORD dwNeedsAdministrator = 740; // ERROR_ELEVATION_REQUIRED
static const DWORD dwNeeds64Bit = ERROR_IN_WOW64;

// The dongle's vendor, as its nodes' identifiers name it.
static const char szVendorId[] = "VID_7B2E";

static const char szHelp[] =
    "donglectl " DONGLE_VERSION_TEXT ": shows the USB dongle's device nodes and switches them\n"
    "off and on again.\n"
    "\n"
    "usage: donglectl status\n"
    "       donglectl list\n"
    "       donglectl disable|enable|reset {interface-class-GUID}\n"
    "       donglectl --help | -h | /?\n"
    "       donglectl --version\n"
    "\n"
    "  status   prints \"found N disabled M\": the present dongle nodes (first hardware ID\n"
    "           USB\\VID_7B2E&PID_2F40...) whose status can be read, and those disabled\n"
    "  list     prints each node whose IDs name the vendor VID_7B2E, or that the census\n"
    "           counts: its IDs, its state, whether the census counts it, and whether\n"
    "           disable and enable would select it, or why not\n"
    "  disable  disables the dongle nodes exposing an interface of the class;\n"
    "           prints \"disabled N\", N the interfaces whose device was changed\n"
    "  enable   enables them again, unplugged ones included; prints \"enabled N\"\n"
    "  reset    disable, then enable\n"
    "\n"
    "Switching needs administrator rights, and on 64-bit Windows the x64 build.\n"
    "Exit status: 0 success; 2 usage error; 740 not run as administrator;\n"
    "0xE0000235 (-536870347) the 32-bit build on 64-bit Windows; otherwise the Windows\n"
    "error code when the device list cannot be had.\n";

static int UsageError(const char* format, const char* arg) {
    (void)fputs("donglectl: ", stderr);
    (void)fprintf(stderr, format, arg);
    (void)fputs("\nRun \"donglectl --help\" for usage.\n", stderr);
    return exitUsage;
}

// Says that the device list cannot be had, with the system's text for the error where it has
// one, and returns the error as the exit status.
static int ListFailed(DWORD dwError) {
    char szMessage[256];
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                               dwError, 0, szMessage, sizeof(szMessage), NULL);
    while (cch > 0 && (szMessage[cch - 1] == '\r' || szMessage[cch - 1] == '\n')) {
        cch--;
    }
    szMessage[cch] = '\0';
    (void)fprintf(stderr, "donglectl: the device list cannot be had: %s%s(error 0x%08lX)\n",
                  szMessage, cch > 0 ? " " : "", (unsigned long)dwError);
    return (int)dwError;
}

// True in a 32-bit process on 64-bit Windows. IsWow64Process is looked up: Windows XP before
// SP2 lacks it, and there is no 64-bit Windows there.
static bool IsWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    BOOL bWow64 = FALSE;
    HMODULE hKernel = GetModuleHandleA("kernel32");
    FARPROC proc = hKernel != NULL ? GetProcAddress(hKernel, "IsWow64Process") : NULL;
    if (proc == NULL) {
        return false;
    }
    IsWow64ProcessFn pfnIsWow64Process = (IsWow64ProcessFn)(void (*)(void))proc;
    return pfnIsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
}

// True when the process's token holds the Administrators group, enabled: elevated, where
// Windows has user account control.
static bool IsAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID pAdministrators = NULL;
    BOOL bMember = FALSE;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &pAdministrators)) {
        return false;
    }
    if (!CheckTokenMembership(NULL, pAdministrators, &bMember)) {
        bMember = FALSE;
    }
    FreeSid(pAdministrators);
    return bMember != FALSE;
}

// True when an identifier of the multi-string in buffer (cbIdBuffer bytes) names the vendor.
static bool NamesVendor(const char* buffer) {
    const size_t cch = sizeof(szVendorId) - 1;
    for (size_t i = 0; i + cch <= cbIdBuffer; i++) {
        if (_mbsnicmp((const unsigned char*)buffer + i, (const unsigned char*)szVendorId, cch) ==
            0) {
            return true;
        }
    }
    return false;
}

static const char* VerdictText(DongleVerdict verdict) {
    switch (verdict) {
    case dvSelected:
        return "selected";
    case dvSelectedByHardwareId:
        return "selected: not present, known by its first hardware ID";
    case dvNoHardwareIds:
        return "passed over: the hardware IDs cannot be read";
    case dvAnotherProduct:
        return "passed over: another product";
    case dvLaterHardwareId:
        return "passed over: only a later hardware ID names the dongle";
    case dvNotInTree:
        return "passed over: not present";
    case dvNoStatus:
        return "passed over: the status cannot be read";
    case dvNoAncestry:
        return "passed over: the parent or grandparent cannot be had";
    case dvNoGrandparentId:
        return "passed over: the grandparent's instance ID cannot be read";
    case dvShortGrandparentId:
        return "passed over: the grandparent's instance ID is shorter than 6 characters";
    }
    return "passed over";
}

// The first identifier of a property read into buffer, or "(none)".
static void PrintFirstId(const char* key, BOOL bRead, const char* buffer) {
    const char* end = (const char*)memchr(buffer, '\0', cbIdBuffer);
    const int cch = end != NULL ? (int)(end - buffer) : (int)cbIdBuffer;
    if (!bRead || cch == 0) {
        printf("  %-14s (none)\n", key);
    } else {
        printf("  %-14s %.*s\n", key, cch, buffer);
    }
}

// The census's verdict on one node, with the patterns it is counted by.
static void PrintCensus(bool bPresent, BOOL bHardware, const char* hardware, BOOL bCompatible,
                        const char* compatible) {
    const char* patterns[3] = {NULL, NULL, NULL};
    int n = 0;
    if (bHardware && MatchesIdPrefix(hardware, szDongleId)) {
        patterns[n++] = szDongleId;
    }
    if (bHardware && MatchesIdPrefix(hardware, szDongleId2)) {
        patterns[n++] = szDongleId2;
    }
    if (bCompatible && MatchesIdPrefix(compatible, szAssocClassId)) {
        patterns[n++] = szAssocClassId;
    }
    if (n == 0 || !bPresent) {
        printf("  %-14s not counted%s\n", "census", n > 0 ? ": not present" : "");
        return;
    }
    printf("  %-14s counted: %s", "census", patterns[0]);
    for (int i = 1; i < n; i++) {
        printf(", %s", patterns[i]);
    }
    printf("\n");
}

static void PrintState(CONFIGRET cr, ULONG status, ULONG problem) {
    if (cr == CR_NO_SUCH_DEVINST) {
        printf("  %-14s not present\n", "state");
    } else if (cr != CR_SUCCESS) {
        printf("  %-14s status unreadable (0x%lX)\n", "state", (unsigned long)cr);
    } else if ((status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED) {
        printf("  %-14s disabled (problem %lu)\n", "state", (unsigned long)problem);
    } else if ((status & DN_HAS_PROBLEM) != 0) {
        printf("  %-14s problem %lu\n", "state", (unsigned long)problem);
    } else {
        printf("  %-14s %s\n", "state", (status & DN_STARTED) != 0 ? "started" : "not started");
    }
}

// Every node, present or not, whose identifiers name the vendor or that the census counts.
static int List() {
    SP_DEVINFO_DATA did;
    char hardware[cbIdBuffer];
    char compatible[cbIdBuffer];
    char szInstanceId[cbIdBuffer];
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);

    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return ListFailed(GetLastError());
    }
    for (DWORD dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &did); dwIndex++) {
        const BOOL bHardware = ReadIdProperty(hDevInfo, &did, SPDRP_HARDWAREID, hardware, NULL);
        const BOOL bCompatible =
            ReadIdProperty(hDevInfo, &did, SPDRP_COMPATIBLEIDS, compatible, NULL);
        if (!(bHardware && NamesVendor(hardware)) && !(bCompatible && NamesVendor(compatible)) &&
            !(bCompatible && MatchesIdPrefix(compatible, szAssocClassId))) {
            continue;
        }
        ULONG status = 0;
        ULONG problem = 0;
        const CONFIGRET cr = CM_Get_DevNode_Status_Ex(&status, &problem, did.DevInst, 0, NULL);
        memset(szInstanceId, 0, sizeof(szInstanceId));
        if (CM_Get_Device_IDA(did.DevInst, szInstanceId, sizeof(szInstanceId), 0) != CR_SUCCESS) {
            strcpy(szInstanceId, "(instance ID unreadable)");
        }
        printf("%s\n", szInstanceId);
        PrintFirstId("hardware-id", bHardware, hardware);
        PrintFirstId("compatible-id", bCompatible, compatible);
        PrintState(cr, status, problem);
        PrintCensus(cr != CR_NO_SUCH_DEVINST, bHardware, hardware, bCompatible, compatible);
        printf("  %-14s %s\n", "disable", VerdictText(JudgeDongleNode(hDevInfo, &did, false)));
        printf("  %-14s %s\n", "enable", VerdictText(JudgeDongleNode(hDevInfo, &did, true)));
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return 0;
}

static int Status() {
    DWORD nFound = 0;
    DWORD nDisabled = 0;
    const DWORD dwResult = QueryDongleStatus(&nFound, &nDisabled);
    if (dwResult != ERROR_SUCCESS) {
        return ListFailed(dwResult);
    }
    printf("found %lu disabled %lu\n", (unsigned long)nFound, (unsigned long)nDisabled);
    return 0;
}

// disable, enable or reset, once nothing stands in the way.
static int Switch(const char* verb, GUID interfaceClass) {
    if (IsWow64()) {
        (void)fputs(
            "donglectl: a 32-bit program cannot switch devices on 64-bit Windows. Run the x64 "
            "build, x64\\donglectl.exe, instead.\n",
            stderr);
        return (int)dwNeeds64Bit;
    }
    if (!IsAdministrator()) {
        (void)fputs("donglectl: switching devices needs administrator rights. Run donglectl from a "
                    "command prompt opened with \"Run as administrator\".\n",
                    stderr);
        return (int)dwNeedsAdministrator;
    }
    if (_stricmp(verb, "enable") != 0) {
        const int nDisabled = DisableDongles(interfaceClass);
        if (nDisabled < 0) {
            return ListFailed(GetLastError());
        }
        printf("disabled %d\n", nDisabled);
    }
    if (_stricmp(verb, "disable") != 0) {
        const int nEnabled = EnableDongles(interfaceClass);
        if (nEnabled < 0) {
            return ListFailed(GetLastError());
        }
        printf("enabled %d\n", nEnabled);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("no verb given%s", "");
    }
    const char* verb = argv[1];
    if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0 || strcmp(verb, "/?") == 0) {
        if (argc > 2) {
            return UsageError("'%s' takes no argument", verb);
        }
        (void)fputs(szHelp, stdout);
        return 0;
    }
    if (strcmp(verb, "--version") == 0) {
        if (argc > 2) {
            return UsageError("'%s' takes no argument", verb);
        }
        printf("donglectl %s\n", DONGLE_VERSION_TEXT);
        return 0;
    }
    if (_stricmp(verb, "status") == 0 || _stricmp(verb, "list") == 0) {
        if (argc > 2) {
            return UsageError("'%s' takes no argument", verb);
        }
        return _stricmp(verb, "list") == 0 ? List() : Status();
    }
    if (_stricmp(verb, "disable") != 0 && _stricmp(verb, "enable") != 0 &&
        _stricmp(verb, "reset") != 0) {
        return UsageError("unknown verb '%s'", verb);
    }
    if (argc != 3) {
        return UsageError(argc < 3 ? "'%s' needs an interface class GUID"
                                   : "'%s' takes one interface class GUID",
                          verb);
    }
    GUID interfaceClass;
    if (!ReadInterfaceClassGuid(argv[2], &interfaceClass)) {
        return UsageError("'%s' is not an interface class GUID; expected one like "
                          "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                          argv[2]);
    }
    return Switch(verb, interfaceClass);
}
