// The recovery of an interrupted reset, as Windows starts it.
//
// Why a service: a RunOnce entry runs only at the logon of an administrator (KB 2021405: not for
// a standard user's), under user account control with the filtered token (the Windows 7 Resource
// Kit, "UAC and Startup Programs"), and runs whatever lies at the path it names. A service that
// the Service Control Manager starts automatically (CreateService, SERVICE_AUTO_START) runs at
// every start of Windows from XP on, before and without any logon, as LocalSystem, which may
// switch devices. It runs a copy of this program in a folder whose owner is Administrators and
// whose access list, set here and read back, lets only Administrators and SYSTEM change it: not
// the folder the zip was unpacked to (any authenticated user may write a folder made under C:\,
// its owner a Downloads folder), nor ProgramData with its default list (users may add to it).
// The folder lies directly under the common application data folder (ProgramData, or All Users'
// Application Data on XP), where no standard user may delete or rename what another made.
#include "donglectl/recovery.h"

const char szRecoveryService[] = "donglectlRecovery";
static const char szRecoveryDisplay[] = "donglectl: finishes an interrupted reset";
static const char szRecoveryFolder[] = "donglectl-recovery";
static const char szRecoveryProgram[] = "donglectl.exe";
// What the recovery runs, recorded beside the interrupted resets: the copy's path and its
// fingerprint. Both builds use the 64-bit view.
static const char szRecoveryKey[] = "SOFTWARE\\donglectl\\Recovery";
static const char szLockName[] = "Global\\donglectl-switching";
// A key that every Windows has in the SYSTEM hive.
static const char szSystemHiveKey[] = "SYSTEM\\CurrentControlSet\\Control";

DWORD TakeSwitchingLock(DWORD dwWaitMs, HANDLE* phLock) {
    *phLock = CreateMutexA(NULL, FALSE, szLockName);
    if (*phLock == NULL) {
        return LastErrorOrGeneric();
    }
    // WAIT_ABANDONED: a run that held it was ended; what it left undone, its record says.
    const DWORD dwWait = WaitForSingleObject(*phLock, dwWaitMs);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
        return 0;
    }
    const DWORD dwError = dwWait == WAIT_TIMEOUT ? (DWORD)ERROR_BUSY : LastErrorOrGeneric();
    (void)CloseHandle(*phLock);
    *phLock = NULL;
    return dwError;
}

void ReleaseSwitchingLock(HANDLE hLock) {
    if (hLock != NULL) {
        (void)ReleaseMutex(hLock);
        (void)CloseHandle(hLock);
    }
}

DWORD FlushSystemHive(void) {
    HKEY hk = NULL;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szSystemHiveKey, 0, KEY_QUERY_VALUE, &hk);
    if (result == ERROR_SUCCESS) {
        result = RegFlushKey(hk);
        (void)RegCloseKey(hk);
    }
    return (DWORD)result;
}

// The folder and the copy's path; false when they do not fit MAX_PATH.
static bool RecoveryPaths(char* szFolder, char* szProgram) {
    char szBase[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, szBase) != S_OK) {
        return false;
    }
    const int cchFolder = snprintf(szFolder, MAX_PATH, "%s\\%s", szBase, szRecoveryFolder);
    const int cchProgram =
        snprintf(szProgram, MAX_PATH, "%s\\%s\\%s", szBase, szRecoveryFolder, szRecoveryProgram);
    return cchFolder > 0 && cchFolder < MAX_PATH && cchProgram > 0 && cchProgram < MAX_PATH;
}

// The service's command line: the copy's path, quoted, and the verb.
static void RecoveryCommand(const char* szProgram, char* szCommand, size_t cch) {
    (void)snprintf(szCommand, cch, "\"%s\" recover", szProgram);
}

// A file's fingerprint (FNV-1a over its bytes); 0 with the error in *pdwError where it cannot
// be read.
static DWORD Fingerprint(const char* szPath, DWORD* pdwError) {
    BYTE buffer[4096];
    DWORD cbRead = 0;
    DWORD dwHash = 2166136261u;
    HANDLE hFile = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pdwError = LastErrorOrGeneric();
        return 0;
    }
    *pdwError = 0;
    for (;;) {
        if (!ReadFile(hFile, buffer, sizeof(buffer), &cbRead, NULL)) {
            *pdwError = LastErrorOrGeneric();
            break;
        }
        if (cbRead == 0) {
            break; // the end of the file
        }
        for (DWORD i = 0; i < cbRead; i++) {
            dwHash = (dwHash ^ buffer[i]) * 16777619u;
        }
    }
    (void)CloseHandle(hFile);
    return *pdwError == 0 ? dwHash : 0;
}

// SYSTEM, Administrators and Users, as the access lists name them.
struct RecoverySids {
    PSID system;
    PSID administrators;
    PSID users;
};

static bool AllocateSids(RecoverySids* pSids) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    memset(pSids, 0, sizeof(*pSids));
    return AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                    &pSids->system) &&
           AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &pSids->administrators) &&
           AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &pSids->users);
}

static void FreeOneSid(PSID* pSid) {
    if (*pSid != NULL) {
        (void)FreeSid(*pSid);
        *pSid = NULL;
    }
}

static void FreeSids(RecoverySids* pSids) {
    FreeOneSid(&pSids->system);
    FreeOneSid(&pSids->administrators);
    FreeOneSid(&pSids->users);
}

// Owner Administrators; a protected access list (nothing inherited from above): SYSTEM and
// Administrators full control, Users read and run; inherited by what the folder holds.
static bool BuildDescriptor(const RecoverySids* pSids, SECURITY_DESCRIPTOR* pSd, DWORD* aclBuffer,
                            DWORD cbAcl) {
    PACL pAcl = (PACL)aclBuffer;
    const DWORD dwInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return InitializeAcl(pAcl, cbAcl, ACL_REVISION) &&
           AddAccessAllowedAceEx(pAcl, ACL_REVISION, dwInherit, FILE_ALL_ACCESS, pSids->system) &&
           AddAccessAllowedAceEx(pAcl, ACL_REVISION, dwInherit, FILE_ALL_ACCESS,
                                 pSids->administrators) &&
           AddAccessAllowedAceEx(pAcl, ACL_REVISION, dwInherit,
                                 FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, pSids->users) &&
           InitializeSecurityDescriptor(pSd, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(pSd, pSids->administrators, FALSE) &&
           SetSecurityDescriptorDacl(pSd, TRUE, pAcl, FALSE) &&
           SetSecurityDescriptorControl(pSd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Rights that change a file or a folder, or what it holds, or who may.
static const ACCESS_MASK writeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                       FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                       WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

static bool IsSystemOrAdministrators(const RecoverySids* pSids, PSID pSid) {
    return EqualSid(pSid, pSids->system) || EqualSid(pSid, pSids->administrators);
}

// Reads back who owns a file or folder and who may change it: 0 when the owner is Administrators
// or SYSTEM and the access list grants none of the write rights to anyone else;
// ERROR_INVALID_OWNER or ERROR_INVALID_ACL when not, or the error of the read.
static DWORD CheckOnlyAdministratorsWrite(const RecoverySids* pSids, const char* szPath) {
    DWORD sdBuffer[1024];
    DWORD cbNeeded = 0;
    PSECURITY_DESCRIPTOR pSd = (PSECURITY_DESCRIPTOR)sdBuffer;
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    BOOL bDefaulted = FALSE;
    BOOL bPresent = FALSE;
    if (!GetFileSecurityA(szPath, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, pSd,
                          sizeof(sdBuffer), &cbNeeded) ||
        !GetSecurityDescriptorOwner(pSd, &pOwner, &bDefaulted) ||
        !GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted)) {
        return LastErrorOrGeneric();
    }
    if (pOwner == NULL || !IsSystemOrAdministrators(pSids, pOwner)) {
        return ERROR_INVALID_OWNER;
    }
    // No access list at all grants everyone everything.
    if (!bPresent || pDacl == NULL) {
        return ERROR_INVALID_ACL;
    }
    for (DWORD i = 0; i < pDacl->AceCount; i++) {
        ACE_HEADER* pAce = NULL;
        if (!GetAce(pDacl, i, (LPVOID*)&pAce)) {
            return LastErrorOrGeneric();
        }
        if (pAce->AceType == ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        // Any other kind of entry (object, callback) is not one this program writes.
        const ACCESS_ALLOWED_ACE* pAllowed = (const ACCESS_ALLOWED_ACE*)pAce;
        if (pAce->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            ((pAllowed->Mask & writeRights) != 0 &&
             !IsSystemOrAdministrators(pSids, (PSID)&pAllowed->SidStart))) {
            return ERROR_INVALID_ACL;
        }
    }
    return 0;
}

// Copies this program to szProgram, with the descriptor, flushed to disk; returns 0 and the
// copy's fingerprint, read back and held against the program's own.
static DWORD CopyProgram(SECURITY_ATTRIBUTES* pSa, const char* szProgram, DWORD* pdwFingerprint) {
    char szSelf[MAX_PATH];
    BYTE buffer[4096];
    DWORD cbRead = 0;
    DWORD cbWritten = 0;
    DWORD dwError = 0;
    const DWORD cchSelf = GetModuleFileNameA(NULL, szSelf, sizeof(szSelf));
    if (cchSelf == 0 || cchSelf >= sizeof(szSelf)) {
        return cchSelf == 0 ? LastErrorOrGeneric() : (DWORD)ERROR_FILENAME_EXCED_RANGE;
    }
    const DWORD dwSelf = Fingerprint(szSelf, &dwError);
    if (dwError != 0) {
        return dwError;
    }
    // A copy left by an earlier reset is replaced; one that cannot be deleted stops the setup.
    if (!DeleteFileA(szProgram) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return LastErrorOrGeneric();
    }
    HANDLE hFrom = CreateFileA(szSelf, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFrom == INVALID_HANDLE_VALUE) {
        return LastErrorOrGeneric();
    }
    HANDLE hTo =
        CreateFileA(szProgram, GENERIC_WRITE, 0, pSa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    dwError = hTo == INVALID_HANDLE_VALUE ? LastErrorOrGeneric() : 0;
    while (dwError == 0) {
        const bool bRead = ReadFile(hFrom, buffer, sizeof(buffer), &cbRead, NULL) != FALSE;
        if (bRead && cbRead == 0) {
            break; // the end of the file
        }
        if (!bRead || !WriteFile(hTo, buffer, cbRead, &cbWritten, NULL) || cbWritten != cbRead) {
            dwError = LastErrorOrGeneric();
        }
    }
    // FlushFileBuffers: the copy is on disk before anything relies on it.
    if (dwError == 0 && !FlushFileBuffers(hTo)) {
        dwError = LastErrorOrGeneric();
    }
    if (hTo != INVALID_HANDLE_VALUE) {
        (void)CloseHandle(hTo);
    }
    (void)CloseHandle(hFrom);
    if (dwError == 0) {
        *pdwFingerprint = Fingerprint(szProgram, &dwError);
    }
    if (dwError == 0 && *pdwFingerprint != dwSelf) {
        dwError = ERROR_FILE_INVALID;
    }
    return dwError;
}

// The folder made, or found, with the descriptor; then checked.
static DWORD MakeFolder(const RecoverySids* pSids, SECURITY_ATTRIBUTES* pSa, const char* szFolder) {
    if (!CreateDirectoryA(szFolder, pSa) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return LastErrorOrGeneric();
    }
    return CheckOnlyAdministratorsWrite(pSids, szFolder);
}

// Records what the recovery runs, flushed.
static DWORD RecordProgram(const char* szProgram, DWORD dwFingerprint) {
    HKEY hk = NULL;
    LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, szRecoveryKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &hk, NULL);
    if (result != ERROR_SUCCESS) {
        return (DWORD)result;
    }
    result = RegSetValueExA(hk, "Program", 0, REG_SZ, (const BYTE*)szProgram,
                            (DWORD)strlen(szProgram) + 1);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(hk, "Fingerprint", 0, REG_DWORD, (const BYTE*)&dwFingerprint,
                                sizeof(dwFingerprint));
    }
    if (result == ERROR_SUCCESS) {
        result = RegFlushKey(hk);
    }
    (void)RegCloseKey(hk);
    return (DWORD)result;
}

// Reads what the recovery runs; false when nothing is recorded.
static bool ReadRecordedProgram(char* szProgram, DWORD* pdwFingerprint) {
    HKEY hk = NULL;
    DWORD dwType = 0;
    DWORD cb = MAX_PATH - 1;
    bool bRead = false;
    memset(szProgram, 0, MAX_PATH);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szRecoveryKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &hk) != ERROR_SUCCESS) {
        return false;
    }
    if (RegQueryValueExA(hk, "Program", NULL, &dwType, (LPBYTE)szProgram, &cb) == ERROR_SUCCESS &&
        dwType == REG_SZ) {
        cb = sizeof(*pdwFingerprint);
        bRead = RegQueryValueExA(hk, "Fingerprint", NULL, &dwType, (LPBYTE)pdwFingerprint, &cb) ==
                    ERROR_SUCCESS &&
                dwType == REG_DWORD && cb == sizeof(*pdwFingerprint);
    }
    (void)RegCloseKey(hk);
    return bRead && szProgram[0] != '\0';
}

// The service's configuration as Windows keeps it: its command line is szCommand, it starts
// automatically, alone in its process, as LocalSystem.
static bool ServiceRunsCommand(SC_HANDLE hService, const char* szCommand) {
    DWORD configBuffer[2048]; // QueryServiceConfig's page: at most 8 KB
    DWORD cbNeeded = 0;
    LPQUERY_SERVICE_CONFIGA pConfig = (LPQUERY_SERVICE_CONFIGA)configBuffer;
    return QueryServiceConfigA(hService, pConfig, sizeof(configBuffer), &cbNeeded) &&
           pConfig->dwServiceType == SERVICE_WIN32_OWN_PROCESS &&
           pConfig->dwStartType == SERVICE_AUTO_START && pConfig->lpBinaryPathName != NULL &&
           _stricmp(pConfig->lpBinaryPathName, szCommand) == 0 &&
           pConfig->lpServiceStartName != NULL &&
           _stricmp(pConfig->lpServiceStartName, "LocalSystem") == 0;
}

// The service created, or one of its name set to run szCommand; read back.
static DWORD InstallService(const char* szCommand) {
    DWORD dwError = 0;
    SC_HANDLE hScm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (hScm == NULL) {
        return LastErrorOrGeneric();
    }
    const DWORD dwAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;
    SC_HANDLE hService = CreateServiceA(
        hScm, szRecoveryService, szRecoveryDisplay, dwAccess, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, szCommand, NULL, NULL, NULL, NULL, NULL);
    if (hService == NULL && GetLastError() == ERROR_SERVICE_EXISTS) {
        hService = OpenServiceA(hScm, szRecoveryService, dwAccess);
        if (hService != NULL &&
            !ChangeServiceConfigA(hService, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, szCommand, NULL, NULL, NULL, "LocalSystem",
                                  "", szRecoveryDisplay)) {
            dwError = LastErrorOrGeneric();
        }
    }
    if (hService == NULL) {
        dwError = LastErrorOrGeneric();
    } else {
        if (dwError == 0 && !ServiceRunsCommand(hService, szCommand)) {
            dwError = ERROR_INVALID_DATA;
        }
        (void)CloseServiceHandle(hService);
    }
    (void)CloseServiceHandle(hScm);
    // The Service Control Manager keeps services in the SYSTEM hive: on disk before any disable.
    return dwError != 0 ? dwError : FlushSystemHive();
}

DWORD SetUpRecovery(char* szWhat, size_t cchWhat) {
    char szFolder[MAX_PATH];
    char szProgram[MAX_PATH];
    DWORD aclBuffer[64];
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    RecoverySids sids;
    DWORD dwFingerprint = 0;
    DWORD dwError = 0;
    (void)snprintf(szWhat, cchWhat, "the common application data folder");
    if (!RecoveryPaths(szFolder, szProgram)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    (void)snprintf(szWhat, cchWhat, "the access list of %s", szFolder);
    if (!AllocateSids(&sids) || !BuildDescriptor(&sids, &sd, aclBuffer, sizeof(aclBuffer))) {
        dwError = LastErrorOrGeneric();
    }
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = FALSE;
    if (dwError == 0) {
        (void)snprintf(szWhat, cchWhat, "the folder %s", szFolder);
        dwError = MakeFolder(&sids, &sa, szFolder);
    }
    if (dwError == 0) {
        (void)snprintf(szWhat, cchWhat, "the copy %s", szProgram);
        dwError = CopyProgram(&sa, szProgram, &dwFingerprint);
    }
    if (dwError == 0) {
        dwError = CheckOnlyAdministratorsWrite(&sids, szProgram);
    }
    FreeSids(&sids);
    if (dwError == 0) {
        (void)snprintf(szWhat, cchWhat, "the record of the recovery");
        dwError = RecordProgram(szProgram, dwFingerprint);
    }
    if (dwError == 0) {
        char szCommand[MAX_PATH + 16];
        (void)snprintf(szWhat, cchWhat, "the service %s", szRecoveryService);
        RecoveryCommand(szProgram, szCommand, sizeof(szCommand));
        dwError = InstallService(szCommand);
    }
    return dwError;
}

// Deletes a file or an empty folder now, or, where that fails (the copy the service runs from),
// at the next restart (MoveFileEx's MOVEFILE_DELAY_UNTIL_REBOOT, which needs administrator
// rights or LocalSystem).
static void RemoveNowOrAtRestart(const char* szPath, bool bFolder) {
    const BOOL bRemoved = bFolder ? RemoveDirectoryA(szPath) : DeleteFileA(szPath);
    if (!bRemoved && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND) {
        (void)MoveFileExA(szPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

void RemoveRecovery(void) {
    char szFolder[MAX_PATH];
    char szProgram[MAX_PATH];
    HKEY hk = NULL;
    bool bDeleted = false;
    SC_HANDLE hScm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (hScm != NULL) {
        // Marked for deletion: gone once it has stopped and no handle to it is open.
        SC_HANDLE hService = OpenServiceA(hScm, szRecoveryService, DELETE);
        if (hService != NULL) {
            bDeleted = DeleteService(hService) != FALSE;
            (void)CloseServiceHandle(hService);
        }
        (void)CloseServiceHandle(hScm);
    }
    // The SYSTEM hive is flushed only where there was a service to delete (RegFlushKey is
    // expensive, and every enable comes here).
    if (bDeleted) {
        (void)FlushSystemHive();
    }
    if (RecoveryPaths(szFolder, szProgram)) {
        RemoveNowOrAtRestart(szProgram, false);
        RemoveNowOrAtRestart(szFolder, true);
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szRecoveryKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &hk) ==
        ERROR_SUCCESS) {
        (void)RegDeleteValueA(hk, "Program");
        (void)RegDeleteValueA(hk, "Fingerprint");
        (void)RegFlushKey(hk);
        (void)RegCloseKey(hk);
    }
}

bool RecoveryInPlace(void) {
    char szProgram[MAX_PATH];
    char szCommand[MAX_PATH + 16];
    DWORD dwFingerprint = 0;
    DWORD dwError = 0;
    bool bInPlace = false;
    if (!ReadRecordedProgram(szProgram, &dwFingerprint)) {
        return false;
    }
    RecoveryCommand(szProgram, szCommand, sizeof(szCommand));
    SC_HANDLE hScm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (hScm != NULL) {
        SC_HANDLE hService = OpenServiceA(hScm, szRecoveryService, SERVICE_QUERY_CONFIG);
        if (hService != NULL) {
            bInPlace = ServiceRunsCommand(hService, szCommand);
            (void)CloseServiceHandle(hService);
        }
        (void)CloseServiceHandle(hScm);
    }
    return bInPlace && Fingerprint(szProgram, &dwError) == dwFingerprint && dwError == 0;
}

DWORD CheckRecoveryProgram(void) {
    char szProgram[MAX_PATH];
    char szSelf[MAX_PATH];
    DWORD dwFingerprint = 0;
    DWORD dwError = 0;
    if (!ReadRecordedProgram(szProgram, &dwFingerprint)) {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD cchSelf = GetModuleFileNameA(NULL, szSelf, sizeof(szSelf));
    if (cchSelf == 0 || cchSelf >= sizeof(szSelf) || _stricmp(szSelf, szProgram) != 0) {
        return ERROR_FILE_INVALID;
    }
    const DWORD dwSelf = Fingerprint(szSelf, &dwError);
    return dwError != 0 ? dwError : dwSelf != dwFingerprint ? (DWORD)ERROR_FILE_INVALID : 0;
}
