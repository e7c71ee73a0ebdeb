#include "tests/support/control_ops.h"

#include "control/control.h"
#include "tests/support/platform_contract.h"

#include <stdlib.h>

bool ParseGuid(const char* text, GUID* pGuid) {
    char digits[33];
    int n = 0;
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '{' || *p == '}' || *p == '-') {
            continue;
        }
        if (n == 32 || strchr("0123456789abcdefABCDEF", *p) == NULL) {
            return false;
        }
        digits[n++] = *p;
    }
    if (n != 32) {
        return false;
    }
    // Fields of 8, 4 and 4 hex digits, then 8 bytes.
    char part[9];
    memcpy(part, digits, 8);
    part[8] = '\0';
    pGuid->Data1 = (DWORD)strtoul(part, NULL, 16);
    part[4] = '\0';
    memcpy(part, digits + 8, 4);
    pGuid->Data2 = (WORD)strtoul(part, NULL, 16);
    memcpy(part, digits + 12, 4);
    pGuid->Data3 = (WORD)strtoul(part, NULL, 16);
    part[2] = '\0';
    for (int i = 0; i < 8; i++) {
        memcpy(part, digits + 16 + 2 * i, 2);
        pGuid->Data4[i] = (BYTE)strtoul(part, NULL, 16);
    }
    return true;
}

bool RunControlOps(const GUID& interfaceClass, int nOps, const char* const* ops) {
    for (int i = 0; i < nOps; i++) {
        if (strcmp(ops[i], "disable") == 0) {
            printf("disable %d\n", DisableDongles(interfaceClass));
        } else if (strcmp(ops[i], "enable") == 0) {
            printf("enable %d\n", EnableDongles(interfaceClass));
        } else if (strcmp(ops[i], "status") == 0) {
            DWORD nFound = 0xFFFFFFFF;
            DWORD nDisabled = 0xFFFFFFFF;
            const DWORD dwResult = QueryDongleStatus(&nFound, &nDisabled);
            printf("status %lu found %lu disabled %lu\n", (unsigned long)dwResult,
                   (unsigned long)nFound, (unsigned long)nDisabled);
        } else if (strcmp(ops[i], "contract") == 0) {
            PrintPlatformContract(interfaceClass, "USB\\VID_7B2E&PID_2F40&REV_0100");
        } else {
            return false;
        }
    }
    return true;
}
