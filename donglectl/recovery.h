// What Windows runs at its next start to finish a reset that something ended half way: a service
// of donglectl's own, set up before reset disables anything and removed once nothing is left to
// finish. And the lock that lets one switching run at a time on the machine.
#pragma once

#include "donglectl/shared.h"

// The service's name, as the Service Control Manager and "sc query" know it.
extern const char szRecoveryService[];

// Takes the machine-wide lock of the switching runs (disable, enable, reset and the recovery),
// waiting at most dwWaitMs. Returns 0 with the lock in *phLock, ERROR_BUSY when another run holds
// it, or the error that made the lock impossible to take.
DWORD TakeSwitchingLock(DWORD dwWaitMs, HANDLE* phLock);
void ReleaseSwitchingLock(HANDLE hLock);

// Before reset disables its first node: a copy of this program in a folder that only
// Administrators and SYSTEM may change, and an auto-start service that runs it as LocalSystem
// with "recover", each read back, all on disk. Returns 0, or the error with what failed in szWhat.
DWORD SetUpRecovery(char* szWhat, size_t cchWhat);
// Nothing is left to finish: the service, the copy and its folder go (a copy that runs now, at the
// next restart).
void RemoveRecovery(void);
// Whether Windows will run the recovery at its next start: the service is there, runs the copy
// recorded, and the copy is the program recorded.
bool RecoveryInPlace(void);
// The recovery's own check before it switches anything: this process is the copy recorded, byte
// for byte. Returns 0 or the reason it is not.
DWORD CheckRecoveryProgram(void);

// Writes the SYSTEM hive to disk (RegFlushKey returns once all of the key's hive is written): the
// devices' settings and the services live there.
DWORD FlushSystemHive(void);
