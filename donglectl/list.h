// donglectl status and list: what the dongle's nodes are, read-only.
#pragma once

#include "donglectl/record.h"

int Status(CtlOutput* pOut);
// One verdict for support and monitoring, on one line, and its exit status: 0 the licensed
// software sees the dongle (counted, and recorded alike); 10 the record is stale; 11 not plugged
// in; 12 a node is present but not counted; 13 plugged in with nodes disabled; 14 an interrupted
// reset is pending.
int Check(CtlOutput* pOut);
// check's verdict without saying it: its word, exit status and text, and what it rests on.
struct CheckVerdict {
    const char* word;
    DWORD status;
    char szText[300];
    DWORD nCensus;
    DWORD nFound;
    DWORD nDisabled;
    RecordState record;
};
// Returns 0, or the error where the device list cannot be read.
int JudgeCheck(CheckVerdict* pCheck);
// The device-interface classes that the nodes the census counts expose, each once, in the order
// found, at most nMax; -1 with the error in *pdwError when the device list cannot be had.
int DongleInterfaceClasses(GUID* pClasses, int nMax, DWORD* pdwError);
// Every node that names the dongle's vendor or that the census counts; with a class, whether
// disable and enable would select it for that class.
int List(CtlOutput* pOut, const GUID* pInterfaceClass);
// Writes to standard error, for each node that list shows, why the verb (disable, enable, reset)
// passed it over for the class (reset: its disable pass); says when the GUID is a setup class,
// not an interface class. Notes the exit status for nothing selected as donglectl's own.
void ExplainNothingSelected(CtlOutput* pOut, GUID interfaceClass, const char* verb);
