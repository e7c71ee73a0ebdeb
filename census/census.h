// The presence census: which of the dongle's device nodes are present, printed and recorded.
#pragma once

#include "platform/platform.h"

// Registry key (under HKEY_LOCAL_MACHINE) and value of the presence record.
extern const char szRecordKey[];
extern const char szRecordValue[];

// Lists the present devices and counts the nodes whose first hardware ID begins with primaryId
// or secondaryId, or whose first compatible ID begins with assocClassId (case ignored). Prints
// the first identifier of each match on its own line, in list order (primary, secondary, class
// within a device), stores the count in *pnPresent and writes it as the REG_DWORD record, then
// returns it. When the device list cannot be had, returns the platform's error code with nothing
// printed, *pnPresent left as it was and the record untouched. A record that cannot be written
// (no write access to the machine hive) is not reported: the result is still the count.
DWORD CountPresentDongles(const char* primaryId, const char* assocClassId, const char* secondaryId,
                          DWORD* pnPresent);
