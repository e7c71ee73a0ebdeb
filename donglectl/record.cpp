// The presence record as donglectl shows it, and donglectl census.
#include "donglectl/record.h"

#include "census/census.h"
#include "census/identity.h"

void ReadRecord(RecordState* pRecord) {
    HKEY hk = NULL;
    memset(pRecord, 0, sizeof(*pRecord));
    pRecord->lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szRecordKey, 0, KEY_QUERY_VALUE, &hk);
    if (pRecord->lResult != ERROR_SUCCESS) {
        return;
    }
    pRecord->bKey = true;
    BYTE data[4];
    DWORD cb = sizeof(data);
    pRecord->lResult = RegQueryValueExA(hk, szRecordValue, NULL, &pRecord->dwType, data, &cb);
    if (pRecord->lResult == ERROR_SUCCESS && pRecord->dwType == REG_DWORD && cb == sizeof(DWORD)) {
        memcpy(&pRecord->dwValue, data, sizeof(DWORD));
    }
    (void)RegCloseKey(hk);
}

static bool RecordIsDword(const RecordState* pRecord) {
    return pRecord->lResult == ERROR_SUCCESS && pRecord->dwType == REG_DWORD;
}

const char* RecordToken(const RecordState* pRecord) {
    if (pRecord->lResult == ERROR_FILE_NOT_FOUND) {
        return pRecord->bKey ? "no-value" : "no-key";
    }
    if (pRecord->lResult != ERROR_SUCCESS && pRecord->lResult != ERROR_MORE_DATA) {
        return "unreadable";
    }
    return RecordIsDword(pRecord) ? "present" : "wrong-type";
}

bool RecordStale(const RecordState* pRecord, bool bCounted, DWORD nCount) {
    return bCounted && (RecordIsDword(pRecord) ? pRecord->dwValue != nCount : nCount > 0);
}

void PrintRecord(const RecordState* pRecord, bool bCounted, DWORD nCount, DWORD dwCountError) {
    char szText[256];
    Print("HKEY_LOCAL_MACHINE\\%s\\%s\n", szRecordKey, szRecordValue);
    const char* token = RecordToken(pRecord);
    if (strcmp(token, "present") == 0) {
        Print("  %-14s %lu\n", "record", (unsigned long)pRecord->dwValue);
    } else if (strcmp(token, "unreadable") == 0) {
        FormatError((DWORD)pRecord->lResult, szText, sizeof(szText));
        Print("  %-14s unreadable: %s\n", "record", szText);
    } else if (strcmp(token, "wrong-type") == 0) {
        Print("  %-14s not a REG_DWORD (type %lu)\n", "record", (unsigned long)pRecord->dwType);
    } else {
        Print("  %-14s missing (no %s)\n", "record", pRecord->bKey ? "value" : "key");
    }
    if (bCounted) {
        Print("  %-14s %lu\n", "census now", (unsigned long)nCount);
    } else {
        FormatError(dwCountError, szText, sizeof(szText));
        Print("  %-14s cannot be taken: %s\n", "census now", szText);
    }
    if (RecordStale(pRecord, bCounted, nCount)) {
        Print("  %-14s the record is stale: run \"donglectl census\" as an administrator\n",
              "stale");
    }
}

void JsonRecord(JsonWriter* pJson, const char* key, const RecordState* pRecord) {
    char szKey[80];
    (void)snprintf(szKey, sizeof(szKey), "HKEY_LOCAL_MACHINE\\%s", szRecordKey);
    const bool bDword = RecordIsDword(pRecord);
    const bool bReadable = strcmp(RecordToken(pRecord), "unreadable") == 0;
    JsonOpen(pJson, key, '{');
    JsonString(pJson, "key", szKey, sizeof(szKey));
    JsonString(pJson, "value_name", szRecordValue, 32);
    JsonString(pJson, "state", RecordToken(pRecord), 16);
    JsonCount(pJson, "type", pRecord->lResult == ERROR_SUCCESS, pRecord->dwType);
    JsonCount(pJson, "value", bDword, pRecord->dwValue);
    JsonError(pJson, "error", bReadable ? (DWORD)pRecord->lResult : 0, NULL, NULL);
    JsonClose(pJson, '}');
}

int Census(CtlOutput* pOut) {
    RecordState before;
    RecordState after;
    DWORD nCount = 0;
    LONG lRecord = ERROR_SUCCESS;
    ReadRecord(&before);
    if (pOut->bJson) {
        JsonRecord(&pOut->json, "record_before", &before);
        JsonOpen(&pOut->json, "matches", '[');
    }
    const DWORD dwResult = CountAndRecordDongles(
        szDongleId, szAssocClassId, szDongleId2, pOut->bJson ? JsonMatch : PrintDongleMatch,
        pOut->bJson ? &pOut->json : NULL, &nCount, &lRecord);
    const bool bCounted = dwResult == nCount;
    ReadRecord(&after);
    if (pOut->bJson) {
        JsonClose(&pOut->json, ']');
        JsonCount(&pOut->json, "count", bCounted, nCount);
        JsonRecord(&pOut->json, "record_after", &after);
        JsonError(&pOut->json, "record_error", bCounted ? (DWORD)lRecord : 0, NULL, NULL);
    }
    if (!bCounted) {
        return ListFailed(dwResult);
    }
    if (lRecord != ERROR_SUCCESS) {
        char szError[256];
        FormatError((DWORD)lRecord, szError, sizeof(szError));
        // An administrator refused: the key's access list, or a policy or security software
        // that guards it, not the rights the advice would give.
        if (AdministratorRights() == 1) {
            (void)fprintf(stderr,
                          "donglectl: the record could not be written: %s, though donglectl runs "
                          "as an administrator: the key HKEY_LOCAL_MACHINE\\%s refuses it (its "
                          "access list, or a policy or security software guarding it). See the "
                          "key's permissions in regedit, or ask who manages the machine.\n",
                          szError, szRecordKey);
        } else {
            (void)fprintf(stderr,
                          "donglectl: the record could not be written: %s. Run \"donglectl "
                          "census\" as an administrator, or as a service, to refresh it.\n",
                          szError);
        }
    }
    // The exit status is the count, as the census program's: no error of donglectl's.
    pOut->bCountExit = true;
    return (int)nCount;
}
