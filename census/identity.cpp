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
