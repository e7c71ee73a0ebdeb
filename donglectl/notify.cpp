// Device arrivals and removals as Windows tells them.
#include "donglectl/notify.h"

typedef CONFIGRET(WINAPI* RegisterFn)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                      PHCMNOTIFICATION);
typedef CONFIGRET(WINAPI* UnregisterFn)(HCMNOTIFICATION);

// CM_Register_Notification's callback runs on a thread of the system's: it only signals.
static DWORD CALLBACK OnNotification(HCMNOTIFICATION hNotify, PVOID pContext,
                                     CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA pData,
                                     DWORD cbData) {
    (void)hNotify, (void)action, (void)pData, (void)cbData;
    (void)SetEvent((HANDLE)pContext);
    return ERROR_SUCCESS;
}

// The event a message-only window signals: one window per process.
static HANDLE hWindowChanged = NULL;

static LRESULT CALLBACK OnWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        (void)SetEvent(hWindowChanged);
        return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static FARPROC CfgMgrProc(const char* name) {
    HMODULE hCfgMgr = GetModuleHandleA("cfgmgr32.dll");
    return hCfgMgr != NULL ? GetProcAddress(hCfgMgr, name) : NULL;
}

static bool RegisterWithConfigManager(DeviceChanges* pChanges) {
    FARPROC proc = CfgMgrProc("CM_Register_Notification");
    if (proc == NULL || CfgMgrProc("CM_Unregister_Notification") == NULL) {
        return false;
    }
    CM_NOTIFY_FILTER filter;
    memset(&filter, 0, sizeof(filter));
    filter.cbSize = sizeof(filter);
    filter.Flags = CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    const RegisterFn pfnRegister = (RegisterFn)(void (*)(void))proc;
    return pfnRegister(&filter, pChanges->hChanged, OnNotification, &pChanges->hNotify) ==
           CR_SUCCESS;
}

static bool RegisterWithWindow(DeviceChanges* pChanges) {
    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = OnWindowMessage;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "donglectl device changes";
    hWindowChanged = pChanges->hChanged;
    if (RegisterClassExA(&windowClass) == 0) {
        return false;
    }
    pChanges->hwnd = CreateWindowExA(0, windowClass.lpszClassName, NULL, 0, 0, 0, 0, 0,
                                     HWND_MESSAGE, NULL, windowClass.hInstance, NULL);
    if (pChanges->hwnd == NULL) {
        return false;
    }
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    memset(&filter, 0, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    pChanges->hDevNotify = RegisterDeviceNotificationA(
        pChanges->hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    if (pChanges->hDevNotify == NULL) {
        (void)DestroyWindow(pChanges->hwnd);
        pChanges->hwnd = NULL;
        return false;
    }
    return true;
}

void WatchDeviceChanges(DeviceChanges* pChanges) {
    memset(pChanges, 0, sizeof(*pChanges));
    pChanges->hChanged = CreateEventA(NULL, TRUE, FALSE, NULL);
    pChanges->mode = "polling";
    if (pChanges->hChanged != NULL && RegisterWithConfigManager(pChanges)) {
        pChanges->mode = "notifications";
    } else if (pChanges->hChanged != NULL && RegisterWithWindow(pChanges)) {
        pChanges->mode = "window-messages";
    }
}

DWORD RecheckInterval(const DeviceChanges* pChanges) {
    return strcmp(pChanges->mode, "polling") == 0 ? dwPollIntervalMs : dwSafetyIntervalMs;
}

// One wait for the change event or a stop, pumping the window's messages meanwhile: which came
// (WAIT_OBJECT_0: a change, + 1: a stop, + 2: a message, dispatched), or WAIT_TIMEOUT.
static DWORD WaitOnce(DeviceChanges* pChanges, DWORD dwMs) {
    HANDLE handles[2] = {pChanges->hChanged, StopEvent()};
    const DWORD n = handles[1] != NULL ? 2 : 1;
    DWORD result = pChanges->hwnd != NULL
                       ? MsgWaitForMultipleObjects(n, handles, FALSE, dwMs, QS_ALLINPUT)
                       : WaitForMultipleObjects(n, handles, FALSE, dwMs);
    MSG msg;
    while (pChanges->hwnd != NULL && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        (void)DispatchMessageA(&msg);
    }
    if (result == WAIT_OBJECT_0 + 1 && n == 1) {
        result = WAIT_OBJECT_0 + 2;
    }
    return result == WAIT_FAILED ? WAIT_TIMEOUT : result;
}

bool WaitForDeviceChange(DeviceChanges* pChanges, DWORD dwMs) {
    if (strcmp(pChanges->mode, "polling") == 0) {
        (void)PauseUnlessStopped(dwMs < dwPollIntervalMs ? dwMs : dwPollIntervalMs);
        return false;
    }
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const DWORD result = dwElapsed < dwMs ? WaitOnce(pChanges, dwMs - dwElapsed) : WAIT_TIMEOUT;
        if (result == WAIT_TIMEOUT || result == WAIT_OBJECT_0 + 1) {
            return false;
        }
        if (result == WAIT_OBJECT_0) {
            break;
        }
    }
    // A burst: the notifications that follow within dwBurstMs are answered by the same census.
    const DWORD dwSettle = GetTickCount();
    for (DWORD dwElapsed = 0; dwElapsed < dwBurstMs; dwElapsed = GetTickCount() - dwSettle) {
        (void)ResetEvent(pChanges->hChanged);
        const DWORD result = WaitOnce(pChanges, dwBurstMs - dwElapsed);
        if (result == WAIT_TIMEOUT || result == WAIT_OBJECT_0 + 1) {
            break;
        }
    }
    (void)ResetEvent(pChanges->hChanged);
    return true;
}

bool AwaitNextCensus(DeviceChanges* pChanges, DWORD dwStart, DWORD dwTimeoutMs) {
    const DWORD dwElapsed = GetTickCount() - dwStart;
    const DWORD dwInterval = RecheckInterval(pChanges);
    const DWORD dwLeft = dwTimeoutMs == INFINITE ? dwInterval : dwTimeoutMs - dwElapsed;
    (void)WaitForDeviceChange(pChanges, dwLeft < dwInterval ? dwLeft : dwInterval);
    return !StopAsked();
}

void StopWatchingDeviceChanges(DeviceChanges* pChanges) {
    if (pChanges->hNotify != NULL) {
        const UnregisterFn pfnUnregister =
            (UnregisterFn)(void (*)(void))CfgMgrProc("CM_Unregister_Notification");
        if (pfnUnregister != NULL) {
            (void)pfnUnregister(pChanges->hNotify);
        }
    }
    if (pChanges->hDevNotify != NULL) {
        (void)UnregisterDeviceNotification(pChanges->hDevNotify);
    }
    if (pChanges->hwnd != NULL) {
        (void)DestroyWindow(pChanges->hwnd);
    }
}
