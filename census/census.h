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

// Called for each match of the census, with the identifier that matched (the first one of its
// list, not necessarily NUL-terminated within cbIdBuffer bytes) and the device it belongs to.
typedef void (*DongleMatchFn)(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                              void* pContext);

// Prints a match as the census prints it: the identifier on its own line.
void PrintDongleMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, void* pContext);

// CountPresentDongles, with each match given to pfnMatch (PrintDongleMatch: the census's lines)
// and the record's fate in *plRecord: ERROR_SUCCESS when written, else the error of creating or
// opening its key, or of writing the value. The same calls, in the same order.
DWORD CountAndRecordDongles(const char* primaryId, const char* assocClassId,
                            const char* secondaryId, DongleMatchFn pfnMatch, void* pContext,
                            DWORD* pnPresent, LONG* plRecord);

// The census's walk and rule alone, read-only: lists the present devices and calls pfnMatch (NULL:
// nothing) for each match, in the census's order, then stores their number in *pnCount. Writes no
// record and prints nothing. False when the device list cannot be had: nothing called, *pnCount
// left as it was, the platform's error code in *pdwError.
bool WalkPresentDongles(const char* primaryId, const char* assocClassId, const char* secondaryId,
                        DongleMatchFn pfnMatch, void* pContext, DWORD* pnCount, DWORD* pdwError);
