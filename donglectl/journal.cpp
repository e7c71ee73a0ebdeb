// The record of an interrupted reset. Windows finishes it at its next start through the
// recovery service (recovery.cpp); any later enable of the class finishes it too.
#include "donglectl/journal.h"

#include "donglectl/recovery.h"

// The record: one REG_MULTI_SZ value per interface class, its name the class's GUID, holding
// the instance IDs a reset of that class was about to disable. Both builds read the 64-bit view.
static const char szJournalKey[] = "SOFTWARE\\donglectl\\InterruptedResets";
static const REGSAM samView = KEY_WOW64_64KEY;
enum { cbJournal = 4096 };

// The instance IDs recorded for the class, as a multi-string ended by an empty string; its size
// in bytes without that end, 0 for none.
static DWORD ReadJournal(HKEY hk, const char* szGuid, char* buffer) {
    DWORD cb = cbJournal - 2;
    DWORD dwType = 0;
    memset(buffer, 0, cbJournal);
    if (RegQueryValueExA(hk, szGuid, NULL, &dwType, (LPBYTE)buffer, &cb) != ERROR_SUCCESS ||
        dwType != REG_MULTI_SZ) {
        memset(buffer, 0, cbJournal);
        return 0;
    }
    while (cb > 0 && buffer[cb - 1] == '\0') {
        cb--;
    }
    return cb > 0 ? cb + 1 : 0;
}

DWORD JournalNode(const char* szGuid, const char* szInstanceId) {
    char ids[cbJournal];
    HKEY hkJournal = NULL;
    LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | samView, NULL, &hkJournal, NULL);
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
    // RegFlushKey: the record is on disk when it returns, before anything is switched off.
    if (result == ERROR_SUCCESS) {
        result = RegFlushKey(hkJournal);
    }
    (void)RegCloseKey(hkJournal);
    return (DWORD)result;
}

int RecordedClasses(char* szGuids, size_t cchGuids) {
    HKEY hk = NULL;
    size_t cch = 0;
    int n = 0;
    memset(szGuids, 0, cchGuids);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, KEY_QUERY_VALUE | samView, &hk) !=
        ERROR_SUCCESS) {
        return 0;
    }
    for (DWORD dwIndex = 0;; dwIndex++) {
        char szGuid[64];
        DWORD cchGuid = sizeof(szGuid);
        DWORD dwType = 0;
        const LONG result = RegEnumValueA(hk, dwIndex, szGuid, &cchGuid, NULL, &dwType, NULL, NULL);
        if (result != ERROR_SUCCESS) {
            break;
        }
        if (dwType == REG_MULTI_SZ && cch + cchGuid + 2 <= cchGuids) {
            memcpy(szGuids + cch, szGuid, cchGuid + 1);
            cch += cchGuid + 1;
            n++;
        }
    }
    (void)RegCloseKey(hk);
    return n;
}

bool FinishJournal(const char* szGuid, char* szLeft, size_t cchLeft) {
    char ids[cbJournal];
    char szGuids[1024];
    HKEY hk = NULL;
    szLeft[0] = '\0';
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | samView, &hk) != ERROR_SUCCESS) {
        if (RecordedClasses(szGuids, sizeof(szGuids)) == 0) {
            RemoveRecovery();
        }
        return true;
    }
    const DWORD cb = ReadJournal(hk, szGuid, ids);
    bool bFinished = cb == 0 || DongleNodesEnabled(ids, szLeft, cchLeft);
    // The device settings Windows wrote are on disk before the record that would restore them
    // goes; the record's deletion is on disk before the recovery goes.
    if (bFinished && cb > 0) {
        bFinished = FlushSystemHive() == ERROR_SUCCESS &&
                    RegDeleteValueA(hk, szGuid) == ERROR_SUCCESS &&
                    RegFlushKey(hk) == ERROR_SUCCESS;
        if (!bFinished) {
            (void)snprintf(szLeft, cchLeft, "%s", ids);
        }
    }
    (void)RegCloseKey(hk);
    if (bFinished && RecordedClasses(szGuids, sizeof(szGuids)) == 0) {
        RemoveRecovery();
    }
    return bFinished;
}

void SayPendingResets(CtlOutput* pOut) {
    char szGuids[1024];
    HKEY hk = NULL;
    if (pOut->bJson) {
        JsonOpen(&pOut->json, "pending_resets", '[');
    }
    const bool bRecovery = RecordedClasses(szGuids, sizeof(szGuids)) > 0 && RecoveryInPlace();
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, KEY_QUERY_VALUE | samView, &hk) ==
        ERROR_SUCCESS) {
        for (const char* szGuid = szGuids; *szGuid != '\0'; szGuid += strlen(szGuid) + 1) {
            char ids[cbJournal];
            const DWORD cb = ReadJournal(hk, szGuid, ids);
            (void)fprintf(stderr,
                          "donglectl: a reset of %s was interrupted and may have left these nodes "
                          "disabled:",
                          szGuid);
            if (pOut->bJson) {
                JsonOpen(&pOut->json, NULL, '{');
                JsonString(&pOut->json, "interface_class", szGuid, 64);
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
                          ". %s; to finish it now, run \"donglectl enable %s\" as an "
                          "administrator.\n",
                          bRecovery ? "Windows finishes it at its next start (service "
                                      "donglectlRecovery)"
                                    : "Nothing is set up to finish it when Windows starts",
                          szGuid);
        }
        (void)RegCloseKey(hk);
    }
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
    }
}

void PrintPendingResets() {
    char szGuids[1024];
    HKEY hk = NULL;
    if (RecordedClasses(szGuids, sizeof(szGuids)) == 0 ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, szJournalKey, 0, KEY_QUERY_VALUE | samView, &hk) !=
            ERROR_SUCCESS) {
        Print("  %-14s none\n", "pending reset");
        return;
    }
    for (const char* szGuid = szGuids; *szGuid != '\0'; szGuid += strlen(szGuid) + 1) {
        char ids[cbJournal];
        const DWORD cb = ReadJournal(hk, szGuid, ids);
        Print("  %-14s %s, may have left disabled:", "pending reset", szGuid);
        for (DWORD i = 0; i < cb && ids[i] != '\0'; i += (DWORD)strlen(ids + i) + 1) {
            Print(" %s", ids + i);
        }
        Print("\n");
    }
    (void)RegCloseKey(hk);
}
