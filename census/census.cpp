#include "census/census.h"

#include "census/identity.h"

// Fixed external names: installers, services and scripts on installed systems read the record
// under exactly these spellings ("Pluged" included). Never correct them.
const char szRecordKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tavrel";
const char szRecordValue[] = "DonglePlugedIn";

// Prints the first identifier in buffer on its own line. A malformed list may hold no NUL at all;
// the precision keeps the print within the buffer.
void PrintDongleMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                      void* pContext) {
    (void)hDevInfo, (void)pDid, (void)pContext;
    printf("%.*s\n", (int)cbIdBuffer, buffer);
}

static void Match(DongleMatchFn pfnMatch, const char* buffer, HDEVINFO hDevInfo,
                  PSP_DEVINFO_DATA pDid, void* pContext) {
    if (pfnMatch != NULL) {
        pfnMatch(buffer, hDevInfo, pDid, pContext);
    }
}

bool WalkPresentDongles(const char* primaryId, const char* assocClassId, const char* secondaryId,
                        DongleMatchFn pfnMatch, void* pContext, DWORD* pnCount, DWORD* pdwError) {
    DWORD dwIndex = 0;
    DWORD nCount = 0;
    SP_DEVINFO_DATA did;
    char buffer[cbIdBuffer];
    // nSize receives the size a read needs, as the platform calls have always asked; nothing
    // reads it.
    DWORD nSize = 0;
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;

    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    memset(buffer, 0, sizeof(buffer));

    hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        *pdwError = GetLastError();
        return false;
    }

    for (dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &did); dwIndex++) {
        if (ReadIdProperty(hDevInfo, &did, SPDRP_HARDWAREID, buffer, &nSize)) {
            if (MatchesIdPrefix(buffer, primaryId)) {
                Match(pfnMatch, buffer, hDevInfo, &did, pContext);
                nCount++;
            }
            if (MatchesIdPrefix(buffer, secondaryId)) {
                Match(pfnMatch, buffer, hDevInfo, &did, pContext);
                nCount++;
            }
        }
        if (ReadIdProperty(hDevInfo, &did, SPDRP_COMPATIBLEIDS, buffer, &nSize) &&
            MatchesIdPrefix(buffer, assocClassId)) {
            Match(pfnMatch, buffer, hDevInfo, &did, pContext);
            nCount++;
        }
    }

    SetupDiDestroyDeviceInfoList(hDevInfo);
    *pnCount = nCount;
    return true;
}

DWORD CountPresentDongles(const char* primaryId, const char* assocClassId, const char* secondaryId,
                          DWORD* pnPresent) {
    LONG lRecord = ERROR_SUCCESS;
    return CountAndRecordDongles(primaryId, assocClassId, secondaryId, PrintDongleMatch, NULL,
                                 pnPresent, &lRecord);
}

DWORD CountAndRecordDongles(const char* primaryId, const char* assocClassId,
                            const char* secondaryId, DongleMatchFn pfnMatch, void* pContext,
                            DWORD* pnPresent, LONG* plRecord) {
    DWORD nCount = 0;
    // The registry calls are made with every argument they have always had: dwDisp receives
    // whether the key was created or opened, and szBuf holds the key's path. Nothing reads
    // dwDisp; it is kept on purpose.
    char szBuf[cbIdBuffer];
    HKEY hk = NULL;
    DWORD dwDisp = 0;

    memset(szBuf, 0, sizeof(szBuf));
    memcpy(szBuf, szRecordKey, sizeof(szRecordKey));

    DWORD dwError = 0;
    if (!WalkPresentDongles(primaryId, assocClassId, secondaryId, pfnMatch, pContext, &nCount,
                            &dwError)) {
        return dwError;
    }
    *pnPresent = nCount;

    // Only a key that was really created or opened is written and closed.
    *plRecord = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szBuf, 0, NULL, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, NULL, &hk, &dwDisp);
    if (*plRecord == ERROR_SUCCESS) {
        const DWORD dwData = nCount;
        *plRecord =
            RegSetValueExA(hk, szRecordValue, 0, REG_DWORD, (const BYTE*)&dwData, sizeof(dwData));
        RegCloseKey(hk);
    }
    return nCount;
}
