// The record of an interrupted reset, and the entry by which Windows finishes it.
//
// Windows documents the RunOnce key (HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce, in
// "Run and RunOnce Registry Keys" and KB 314866): each value's command line runs once at the
// next logon, and only when the user may delete the key's values (an administrator), on every
// Windows from XP on; a value whose name begins with "!" is deleted only after its command has
// run, so that a logon cut short runs it again. It needs no service, no scheduled task and no
// COM. What the documentation does not say is whether, under user account control, the command
// runs with the administrator's full rights; where it does not, "donglectl enable" refuses (740)
// and the record below still says what to do at the next run.
#include "donglectl/journal.h"

// The record: one REG_MULTI_SZ value per interface class, its name the class's GUID, holding
// the instance IDs a reset of that class was about to disable. Both builds read the 64-bit view.
static const char szJournalKey[] = "SOFTWARE\\donglectl\\InterruptedResets";
static const char szRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const REGSAM samView = KEY_WOW64_64KEY;
enum { cbJournal = 4096 };

static void RunOnceName(const char* szGuid, char* szName, size_t cch) {
    (void)snprintf(szName, cch, "!donglectl enable %s", szGuid);
}

// The instance IDs recorded for the class, as a multi-string ended by an empty string; its size
// in bytes without that end, 0 for none.
static DWORD ReadJournal(HKEY hk, const char* szGuid, char* buffer) {
    DWORD cb = cbJournal - 2;
    DWORD dwType = 0;
    memset(buffer, 0, cbJournal);
    if (RegQueryValueExA(hk, szGuid, NULL, &dwType, (LPBYTE)buffer, &cb) != ERROR_SUCCESS ||
        dwType != REG_MULTI_SZ) {
        return 0;
    }
    while (cb > 0 && buffer[cb - 1] == '\0') {
        cb--;
    }
    return cb > 0 ? cb + 1 : 0;
}

DWORD JournalNode(const char* szGuid, const char* szInstanceId) {
    char szName[80];
    char szCommand[MAX_PATH + 64];
    char szPath[MAX_PATH];
    char ids[cbJournal];
    HKEY hkRunOnce = NULL;
    HKEY hkJournal = NULL;
    const DWORD cchPath = GetModuleFileNameA(NULL, szPath, sizeof(szPath));
    if (cchPath == 0 || cchPath >= sizeof(szPath)) {
        return LastErrorOrGeneric();
    }
    RunOnceName(szGuid, szName, sizeof(szName));
    (void)snprintf(szCommand, sizeof(szCommand), "\"%s\" enable %s", szPath, szGuid);
    LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, szRunOnceKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | samView, NULL, &hkRunOnce, NULL);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(hkRunOnce, szName, 0, REG_SZ, (const BYTE*)szCommand,
                                (DWORD)strlen(szCommand) + 1);
        (void)RegCloseKey(hkRunOnce);
    }
    if (result == ERROR_SUCCESS) {
        result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE | samView, NULL, &hkJournal, NULL);
    }
    if (result != ERROR_SUCCESS) {
        return (DWORD)result;
    }
    // The node is added to what earlier runs recorded, once.
    DWORD cb = ReadJournal(hkJournal, szGuid, ids);
    bool bKnown = false;
    for (DWORD i = 0; i < cb && !bKnown; i += (DWORD)strlen(ids + i) + 1) {
        bKnown = _stricmp(ids + i, szInstanceId) == 0;
    }
    const DWORD cbId = (DWORD)strlen(szInstanceId) + 1;
    if (!bKnown && cb + cbId + 1 > sizeof(ids)) {
        result = ERROR_INSUFFICIENT_BUFFER;
    } else if (!bKnown) {
        memcpy(ids + cb, szInstanceId, cbId);
        cb += cbId;
        ids[cb] = '\0';
        result = RegSetValueExA(hkJournal, szGuid, 0, REG_MULTI_SZ, (const BYTE*)ids, cb + 1);
    }
    // RegFlushKey: the writes are on disk when it returns, before anything is switched off.
    if (result == ERROR_SUCCESS) {
        result = RegFlushKey(hkJournal);
    }
    (void)RegCloseKey(hkJournal);
    return (DWORD)result;
}

void ClearJournal(const char* szGuid) {
    char szName[80];
    HKEY hk = NULL;
    // The record goes first: a process ended between the two leaves only the RunOnce entry,
    // which enables once more and finds nothing to finish.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, KEY_SET_VALUE | samView, &hk) ==
        ERROR_SUCCESS) {
        (void)RegDeleteValueA(hk, szGuid);
        (void)RegFlushKey(hk);
        (void)RegCloseKey(hk);
    }
    RunOnceName(szGuid, szName, sizeof(szName));
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szRunOnceKey, 0, KEY_SET_VALUE | samView, &hk) ==
        ERROR_SUCCESS) {
        (void)RegDeleteValueA(hk, szName);
        (void)RegCloseKey(hk);
    }
}

void SayPendingResets(CtlOutput* pOut) {
    HKEY hk = NULL;
    if (pOut->bJson) {
        JsonOpen(&pOut->json, "pending_resets", '[');
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, KEY_QUERY_VALUE | samView, &hk) ==
        ERROR_SUCCESS) {
        for (DWORD dwIndex = 0;; dwIndex++) {
            char ids[cbJournal];
            char szGuid[64];
            DWORD cchGuid = sizeof(szGuid);
            DWORD cb = cbJournal - 2;
            DWORD dwType = 0;
            memset(ids, 0, sizeof(ids));
            const LONG result =
                RegEnumValueA(hk, dwIndex, szGuid, &cchGuid, NULL, &dwType, (LPBYTE)ids, &cb);
            if (result == ERROR_NO_MORE_ITEMS ||
                (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)) {
                break;
            }
            if (result != ERROR_SUCCESS || dwType != REG_MULTI_SZ) {
                continue;
            }
            (void)fprintf(stderr,
                          "donglectl: a reset of %s was interrupted and may have left these nodes "
                          "disabled:",
                          szGuid);
            if (pOut->bJson) {
                JsonOpen(&pOut->json, NULL, '{');
                JsonString(&pOut->json, "interface_class", szGuid, sizeof(szGuid));
                JsonOpen(&pOut->json, "nodes", '[');
            }
            for (DWORD i = 0; i < cb && ids[i] != '\0'; i += (DWORD)strlen(ids + i) + 1) {
                (void)fprintf(stderr, " %s", ids + i);
                if (pOut->bJson) {
                    JsonString(&pOut->json, NULL, ids + i, cbJournal - i);
                }
            }
            if (pOut->bJson) {
                JsonClose(&pOut->json, ']');
                JsonClose(&pOut->json, '}');
            }
            (void)fprintf(stderr,
                          ". Windows runs \"donglectl enable %s\" at the next logon of an "
                          "administrator; to finish it now, run that as an administrator.\n",
                          szGuid);
        }
        (void)RegCloseKey(hk);
    }
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
    }
}
