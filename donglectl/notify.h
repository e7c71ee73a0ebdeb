// Device arrivals and removals as Windows tells them, for wait and watch.
#pragma once

#include "donglectl/shared.h"

// How changes are learnt: Windows' notifications, or a poll where none can be had.
struct DeviceChanges {
    const char* mode; // "notifications", "window-messages" or "polling"
    HANDLE hChanged;  // signalled by a notification
    HCMNOTIFICATION hNotify;
    HWND hwnd;
    HDEVNOTIFY hDevNotify;
};

// The interval of a poll where no notification can be had, as wait has always polled.
static const DWORD dwPollIntervalMs = 500;
// Where notifications come, the census is still taken at this interval: a notification can be
// lost, and a device can come back without one.
static const DWORD dwSafetyIntervalMs = 10000;
// Notifications within this time of the first are one burst, answered by one census.
static const DWORD dwBurstMs = 200;

// Registers for the arrival and removal of device interfaces of every class: through
// CM_Register_Notification where Windows has it (8 and later; looked up), else
// RegisterDeviceNotification on a message-only window (XP and later), else polling. Needs
// WatchConsoleEvents first.
void WatchDeviceChanges(DeviceChanges* pChanges);
// Waits up to dwMs (a poll waits at most dwPollIntervalMs) for a change or a stop asked for;
// after a change, lets the burst settle. True when a change was told.
bool WaitForDeviceChange(DeviceChanges* pChanges, DWORD dwMs);
void StopWatchingDeviceChanges(DeviceChanges* pChanges);
// Waits until the next census is due: a change told, the re-check interval passed, or the
// timeout (counted from dwStart; INFINITE: none) come. False when a stop was asked for.
bool AwaitNextCensus(DeviceChanges* pChanges, DWORD dwStart, DWORD dwTimeoutMs);
// The interval between two censuses while nothing is told.
DWORD RecheckInterval(const DeviceChanges* pChanges);
