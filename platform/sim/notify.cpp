// The simulated platform: device-change notifications and the waits that receive them.
//
// CM_Register_Notification (Windows 8 and later): the callback runs on a thread of the system's
// own, for each device interface that arrives or goes, when the filter asks for every interface
// class. RegisterDeviceNotification (XP and later): WM_DEVICECHANGE is posted to the window,
// DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE, and the program's message loop dispatches it to
// the window procedure. Neither page promises that every change is told, once: lost and
// duplicated notifications, and refused registrations (older Windows, Wine), are the readings a
// program must survive.
#include "platform/sim/state.h"

#include <cstring>
#include <thread>

using sim::St;

namespace sim {

void Notify(const Device& d, bool arrived) {
    if (St().notificationsLost) {
        return;
    }
    for (int copy = 0; copy < (St().notificationsDuplicated ? 2 : 1); copy++) {
        for (size_t i = 0; i < St().registrations.size(); i++) {
            const State::Registration r = St().registrations[i];
            if (!r.open) {
                continue;
            }
            if (r.callback != nullptr) {
                CM_NOTIFY_EVENT_DATA data;
                memset(&data, 0, sizeof(data));
                data.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
                data.u.DeviceInterface.ClassGuid = d.interfaces[0];
                std::thread system([&] {
                    (void)r.callback((HCMNOTIFICATION)(i + 1), r.context,
                                     arrived ? CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL
                                             : CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL,
                                     &data, sizeof(data));
                });
                system.join();
            } else {
                MSG msg;
                memset(&msg, 0, sizeof(msg));
                msg.hwnd = r.hwnd;
                msg.message = WM_DEVICECHANGE;
                msg.wParam = arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
                St().messages.push_back(msg);
            }
        }
    }
}

DWORD WaitAny(DWORD n, const HANDLE* handles, DWORD ms, bool bMessages) {
    Call();
    auto ready = [&]() -> DWORD {
        for (DWORD i = 0; i < n; i++) {
            const std::atomic<bool>* e = EventObject(handles[i]);
            if (e == nullptr) {
                return WAIT_FAILED;
            }
            if (*e) {
                return WAIT_OBJECT_0 + i;
            }
        }
        return bMessages && !St().messages.empty() ? WAIT_OBJECT_0 + n : WAIT_TIMEOUT;
    };
    const size_t pause = St().sleeps.size();
    St().sleeps.push_back(ms);
    Event("Wait " + std::to_string(ms));
    const DWORD start = St().now;
    const DWORD half = start + ms / 2;
    const DWORD end = start + ms;
    bool raised = St().consoleEvents.count(pause) == 0;
    for (;;) {
        const DWORD r = ready();
        if (r != WAIT_TIMEOUT || St().now >= end) {
            return r;
        }
        DWORD next = end < NextPlug() ? end : NextPlug();
        next = !raised && half < next ? half : next;
        Advance(next > St().now ? next - St().now : 0);
        if (!raised && St().now >= half) {
            raised = true;
            RaiseConsoleEvent(St().consoleEvents[pause]);
        }
    }
}

} // namespace sim

extern "C" {

CONFIGRET CM_Register_Notification(PCM_NOTIFY_FILTER pFilter, PVOID pContext,
                                   PCM_NOTIFY_CALLBACK pCallback, PHCMNOTIFICATION pNotifyContext) {
    sim::Call();
    if (pFilter == nullptr || pCallback == nullptr || pNotifyContext == nullptr ||
        pFilter->cbSize != sizeof(CM_NOTIFY_FILTER) ||
        pFilter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
        return CR_INVALID_POINTER;
    }
    if (St().cmNotifyRefused) {
        return CR_FAILURE;
    }
    // Only the filter for every interface class is modelled; one class alone is not.
    if (pFilter->Flags != CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES) {
        return CR_INVALID_FLAG;
    }
    St().registrations.push_back({pCallback, pContext, nullptr, true});
    *pNotifyContext = (HCMNOTIFICATION)St().registrations.size();
    return CR_SUCCESS;
}

static sim::State::Registration* FindRegistration(void* handle, bool bWindow) {
    const size_t k = (size_t)handle;
    if (k == 0 || k > St().registrations.size() || !St().registrations[k - 1].open ||
        (St().registrations[k - 1].callback == nullptr) != bWindow) {
        St().badHandles++;
        return nullptr;
    }
    return &St().registrations[k - 1];
}

CONFIGRET CM_Unregister_Notification(HCMNOTIFICATION NotifyContext) {
    sim::Call();
    sim::State::Registration* r = FindRegistration(NotifyContext, false);
    if (r == nullptr) {
        return CR_INVALID_POINTER;
    }
    r->open = false;
    return CR_SUCCESS;
}

// One window class, one kind of window: message-only windows for notifications.
static WNDPROC classProc = nullptr;

ATOM RegisterClassExA(const WNDCLASSEXA* lpWndClass) {
    sim::Call();
    if (lpWndClass == nullptr || lpWndClass->cbSize != sizeof(WNDCLASSEXA) ||
        lpWndClass->lpfnWndProc == nullptr || lpWndClass->lpszClassName == nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    classProc = lpWndClass->lpfnWndProc;
    return 1;
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                     int Y, int nWidth, int nHeight, HWND hWndParent, void* hMenu,
                     HINSTANCE hInstance, void* lpParam) {
    (void)dwExStyle, (void)lpWindowName, (void)dwStyle, (void)X, (void)Y, (void)nWidth;
    (void)nHeight, (void)hMenu, (void)hInstance, (void)lpParam;
    sim::Call();
    if (lpClassName == nullptr || classProc == nullptr || hWndParent != HWND_MESSAGE) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    St().windows.push_back(classProc);
    return (HWND)St().windows.size();
}

static WNDPROC WindowProc(HWND hWnd) {
    const size_t k = (size_t)hWnd;
    return k != 0 && k <= St().windows.size() ? St().windows[k - 1] : nullptr;
}

BOOL DestroyWindow(HWND hWnd) {
    sim::Call();
    if (WindowProc(hWnd) == nullptr) {
        St().badHandles++;
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    St().windows[(size_t)hWnd - 1] = nullptr;
    return TRUE;
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    (void)hWnd, (void)Msg, (void)wParam, (void)lParam;
    return 0;
}

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE hRecipient, void* NotificationFilter, DWORD Flags) {
    sim::Call();
    const DEV_BROADCAST_DEVICEINTERFACE_A* filter =
        (const DEV_BROADCAST_DEVICEINTERFACE_A*)NotificationFilter;
    if (WindowProc((HWND)hRecipient) == nullptr || filter == nullptr ||
        filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        Flags != (DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES)) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (St().windowNotifyRefused) {
        sim::Fail(ERROR_SERVICE_NOT_ACTIVE);
        return nullptr;
    }
    St().registrations.push_back({nullptr, nullptr, (HWND)hRecipient, true});
    return (HDEVNOTIFY)St().registrations.size();
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    sim::Call();
    sim::State::Registration* r = FindRegistration(Handle, true);
    if (r == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    r->open = false;
    return TRUE;
}

BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    sim::Call();
    if (lpMsg == nullptr || hWnd != nullptr || wMsgFilterMin != 0 || wMsgFilterMax != 0 ||
        wRemoveMsg != PM_REMOVE || St().messages.empty()) {
        return FALSE;
    }
    *lpMsg = St().messages.front();
    St().messages.pop_front();
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* lpMsg) {
    sim::Call();
    WNDPROC proc = lpMsg != nullptr ? WindowProc(lpMsg->hwnd) : nullptr;
    return proc != nullptr ? proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (bWaitAll || nCount == 0 || lpHandles == nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return sim::WaitAny(nCount, lpHandles, dwMilliseconds, false);
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                DWORD dwMilliseconds, DWORD dwWakeMask) {
    if (fWaitAll || nCount == 0 || pHandles == nullptr || dwWakeMask != QS_ALLINPUT) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return sim::WaitAny(nCount, pHandles, dwMilliseconds, true);
}

// UTC, on the program's clock from 2026-01-01T00:00:00Z.
void GetSystemTime(SYSTEMTIME* lpSystemTime) {
    const DWORD s = St().now / 1000;
    memset(lpSystemTime, 0, sizeof(*lpSystemTime));
    lpSystemTime->wYear = 2026;
    lpSystemTime->wMonth = 1;
    lpSystemTime->wDay = (WORD)(1 + s / 86400);
    lpSystemTime->wHour = (WORD)(s / 3600 % 24);
    lpSystemTime->wMinute = (WORD)(s / 60 % 60);
    lpSystemTime->wSecond = (WORD)(s % 60);
    lpSystemTime->wMilliseconds = (WORD)(St().now % 1000);
}

} // extern "C"
