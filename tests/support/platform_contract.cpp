#include "tests/support/platform_contract.h"

#include "census/identity.h"

// True when the device's hardware IDs can be read and the first one is exactly firstHardwareId.
static bool HasFirstHardwareId(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                               const char* firstHardwareId) {
    char buffer[cbIdBuffer];
    return ReadIdProperty(hDevInfo, pDid, SPDRP_HARDWAREID, buffer, NULL) &&
           strncmp(buffer, firstHardwareId, sizeof(buffer)) == 0;
}

static void PrintResult(const char* fact, BOOL bResult) {
    printf("contract %s %s %lu", fact, bResult ? "TRUE" : "FALSE",
           bResult ? 0UL : (unsigned long)GetLastError());
}

static void PrintDeviceFacts(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD nDevices) {
    char buffer[260];
    DWORD nSize = 0;
    DWORD dwType = 0;
    BOOL bResult;

    memset(buffer, 0, sizeof(buffer));
    bResult = SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_HARDWAREID, NULL,
                                                (PBYTE)buffer, 8, &nSize);
    PrintResult("small-buffer", bResult);
    printf(" required=%lu\n", (unsigned long)nSize);

    nSize = 0;
    bResult = SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_HARDWAREID, &dwType,
                                                (PBYTE)buffer, sizeof(buffer), &nSize);
    PrintResult("full-read", bResult);
    printf(" type=%lu size=%lu\n", (unsigned long)dwType, (unsigned long)nSize);

    bResult = SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDid, SPDRP_COMPATIBLEIDS, NULL,
                                                (PBYTE)buffer, sizeof(buffer), &nSize);
    PrintResult("absent-property", bResult);
    printf("\n");

    SP_DEVINFO_DATA past;
    memset(&past, 0, sizeof(past));
    past.cbSize = sizeof(past);
    PrintResult("past-end", SetupDiEnumDeviceInfo(hDevInfo, nDevices, &past));
    printf("\n");

    SP_DEVINFO_LIST_DETAIL_DATA_A devInfoListDetail;
    memset(&devInfoListDetail, 0, sizeof(devInfoListDetail));
    devInfoListDetail.cbSize = sizeof(devInfoListDetail);
    PrintResult("list-detail", SetupDiGetDeviceInfoListDetailA(hDevInfo, &devInfoListDetail));
    printf(" machine=%s\n", devInfoListDetail.RemoteMachineHandle ? "handle" : "null");

    memset(buffer, 0, sizeof(buffer));
    const CONFIGRET cr = CM_Get_Device_IDA(pDid->DevInst, buffer, sizeof(buffer), 0);
    printf("contract instance-id %lu %s\n", (unsigned long)cr, buffer);
}

static void PrintInterfaceFacts(const GUID& interfaceClass, const char* firstHardwareId) {
    HDEVINFO hDevInfo =
        SetupDiGetClassDevsA(&interfaceClass, NULL, NULL, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        printf("contract interface-list FALSE %lu\n", (unsigned long)GetLastError());
        return;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD dwIndex = 0;
         SetupDiEnumDeviceInterfaces(hDevInfo, NULL, &interfaceClass, dwIndex, &interfaceData);
         dwIndex++) {
        SP_DEVINFO_DATA did;
        memset(&did, 0, sizeof(did));
        did.cbSize = sizeof(did);
        const BOOL bResult =
            SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, NULL, 0, NULL, &did);
        const DWORD dwError = bResult ? 0 : GetLastError();
        if (did.Reserved == 0 || !HasFirstHardwareId(hDevInfo, &did, firstHardwareId)) {
            continue;
        }
        printf("contract interface-detail %s %lu device-filled=1\n", bResult ? "TRUE" : "FALSE",
               (unsigned long)dwError);
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
}

void PrintPlatformContract(const GUID& interfaceClass, const char* firstHardwareId) {
    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        printf("contract device-list FALSE %lu\n", (unsigned long)GetLastError());
        return;
    }
    SP_DEVINFO_DATA did;
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did);
    DWORD nDevices = 0;
    bool bFound = false;
    SP_DEVINFO_DATA found = did;
    for (; SetupDiEnumDeviceInfo(hDevInfo, nDevices, &did); nDevices++) {
        if (!bFound && HasFirstHardwareId(hDevInfo, &did, firstHardwareId)) {
            found = did;
            bFound = true;
        }
    }
    if (bFound) {
        PrintDeviceFacts(hDevInfo, &found, nDevices);
    } else {
        printf("contract no-device\n");
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    if (bFound) {
        PrintInterfaceFacts(interfaceClass, firstHardwareId);
    }
}
