#include "bench/baseline_calls.h"

DWORD BaselineCalls(void) {
    DWORD dwIndex = 0;
    SP_DEVINFO_DATA did;
    char buffer[260];
    DWORD nSize = 0;
    HDEVINFO hDevInfo = INVALID_HANDLE_VALUE;

    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    for (dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &did); dwIndex++) {
        SetupDiGetDeviceRegistryPropertyA(hDevInfo, &did, SPDRP_HARDWAREID, NULL, (PBYTE)buffer,
                                          sizeof(buffer), &nSize);
        SetupDiGetDeviceRegistryPropertyA(hDevInfo, &did, SPDRP_COMPATIBLEIDS, NULL, (PBYTE)buffer,
                                          sizeof(buffer), &nSize);
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    return dwIndex;
}
