// What reset is about to switch off, recorded where the next run and Windows' next start find
// it, so that no end of the process (a closed console past Windows' timeout, a logoff, a
// shutdown, a kill, a power cut) leaves the dongle off.
#pragma once

#include "donglectl/shared.h"

// Before one of reset's disables: records the node under its class, flushed to disk. Returns 0,
// or the registry's error: then nothing may be disabled.
DWORD JournalNode(const char* szGuid, const char* szInstanceId);
// After an enable pass of the class: where every node recorded for it reads back enabled, the
// device settings are flushed, then the record goes, and, once no reset is left to finish, the
// recovery at Windows' start with it. Returns true when nothing is left recorded for the class;
// false with the first node that does not read back enabled in szLeft.
bool FinishJournal(const char* szGuid, char* szLeft, size_t cchLeft);
// The interface classes recorded, as a multi-string of GUID texts ended by an empty string;
// returns how many.
int RecordedClasses(char* szGuids, size_t cchGuids);
// Says, for each reset that was interrupted, which nodes it may have left off and how it is
// finished: on standard error, and in the JSON document as "pending_resets".
void SayPendingResets(CtlOutput* pOut);
// The same for a report: one line per interrupted reset, its class and nodes, or "none".
void PrintPendingResets();
