// The presence record the census writes, as donglectl shows it, and donglectl census.
#pragma once

#include "donglectl/shared.h"

// The record as read now.
struct RecordState {
    LONG lResult; // of opening the key or reading the value: ERROR_FILE_NOT_FOUND when missing
    bool bKey;    // the key exists
    DWORD dwType;
    DWORD dwValue; // when it is a REG_DWORD
};
void ReadRecord(RecordState* pRecord);
// The record's word ("present", "no-key", "no-value", "wrong-type", "unreadable").
const char* RecordToken(const RecordState* pRecord);
// The record beside the census's count now: stale when they differ, or when the census counts the
// dongle and the record cannot be had.
bool RecordStale(const RecordState* pRecord, bool bCounted, DWORD nCount);
// The record as list shows it, and as a member of a JSON document.
void PrintRecord(const RecordState* pRecord, bool bCounted, DWORD nCount, DWORD dwCountError);
void JsonRecord(JsonWriter* pJson, const char* key, const RecordState* pRecord);

// donglectl census: the census as donglecensus.exe takes it (the same lines, the same record,
// the count as the exit status), saying on standard error when the record could not be written.
int Census(CtlOutput* pOut);
