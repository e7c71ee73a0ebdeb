// What reset is about to switch off, recorded where the next run and Windows itself find it, so
// that no end of the process (a closed console past Windows' timeout, a logoff, a shutdown, a
// kill, a power cut) leaves the dongle off.
#pragma once

#include "donglectl/shared.h"

// Before one of reset's disables: records the node under its class, and that Windows is to run
// "donglectl enable {class}" at the next logon of an administrator (RunOnce), both flushed to
// disk. Returns 0, or the registry's error: then nothing may be disabled.
DWORD JournalNode(const char* szGuid, const char* szInstanceId);
// Once an enable pass of the class has read back what holds: the record and the RunOnce entry go.
void ClearJournal(const char* szGuid);
// Says, for each reset that was interrupted, which nodes it may have left off and how to finish
// it: on standard error, and in the JSON document as "pending_resets".
void SayPendingResets(CtlOutput* pOut);
