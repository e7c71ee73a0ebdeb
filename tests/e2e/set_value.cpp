// Test program for the Wine tests: stores a registry value with exactly the bytes given, which
// "reg import" cannot do for an identifier list without its terminating NULs.
//   set_value <key under HKLM> <value name> <type> <hex bytes, or "-" for none>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool Widen(const char* text, WCHAR* wide, int cch) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, cch) != 0;
}

int main(int argc, char** argv) {
    WCHAR szKey[512];
    WCHAR szName[256];
    BYTE data[4096];
    DWORD cbData = 0;
    HKEY hk = NULL;

    if (argc != 5 || !Widen(argv[1], szKey, 512) || !Widen(argv[2], szName, 256)) {
        fprintf(stderr, "usage: set_value KEY NAME TYPE HEXBYTES\n");
        return 2;
    }
    // RegSetValueExW counts a string's terminator that the caller forgot when one follows the
    // data in memory (Windows does so, and Wine): nothing after the data may read as one.
    memset(data, 0xFF, sizeof(data));
    if (strcmp(argv[4], "-") != 0) {
        for (const char* p = argv[4]; p[0] != '\0' && p[1] != '\0' && cbData + 2 < sizeof(data);
             p += 2) {
            const char pair[3] = {p[0], p[1], '\0'};
            data[cbData++] = (BYTE)strtoul(pair, NULL, 16);
        }
    }
    LONG lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, szKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, NULL, &hk, NULL);
    if (lResult == ERROR_SUCCESS) {
        lResult = RegSetValueExW(hk, szName, 0, (DWORD)strtoul(argv[3], NULL, 10), data, cbData);
        RegCloseKey(hk);
    }
    if (lResult != ERROR_SUCCESS) {
        fprintf(stderr, "set_value: error %ld\n", (long)lResult);
        return 1;
    }
    return 0;
}
