#include "census/identity.h"

// The dongle's identity as its devices report it. Fixed: the letter case does not matter (the
// rule ignores it), every character does.
const char szDongleId[] = "USB\\Vid_7B2E&Pid_2F40";
const char szDongleId2[] = "USB\\Vid_7B2E&Pid_0B74";
const char szAssocClassId[] = "USB\\CLASS_EF&SUBCLASS_03&PROT_01";

bool MatchesIdPrefix(const char* buffer, const char* pattern) {
    return _mbsnicmp((const unsigned char*)buffer, (const unsigned char*)pattern,
                     strlen(pattern)) == 0;
}

BOOL ReadIdProperty(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD dwProperty, char* buffer,
                    DWORD* pnSize) {
    memset(buffer, 0, cbIdBuffer);
    return SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, dwProperty, NULL, (PBYTE)buffer,
                                             cbIdBuffer, pnSize);
}

// A later identifier of a multi-string in buffer (cbIdBuffer bytes, not necessarily
// terminated) that begins with pattern. The pattern is held only against identifiers that leave
// room for it within the buffer.
bool LaterIdMatches(const char* buffer, const char* pattern) {
    const size_t cchPattern = strlen(pattern);
    size_t i = 0;
    while (i < cbIdBuffer && buffer[i] != '\0') {
        i++;
    }
    for (i++; i + cchPattern <= cbIdBuffer && buffer[i] != '\0'; i++) {
        if (MatchesIdPrefix(buffer + i, pattern)) {
            return true;
        }
        while (i < cbIdBuffer && buffer[i] != '\0') {
            i++;
        }
    }
    return false;
}
