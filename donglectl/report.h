// donglectl report: the program, Windows, the rights, check's verdict, the pending resets and
// list's whole output, with the time, for support.
#pragma once

#include "donglectl/shared.h"

// To standard output (path NULL), or written atomically to the file path: "report written to
// <path>" then. With --json, the same as one document on standard output. Returns 0, the error
// where the file cannot be written (nothing of it is left), or where the device list cannot be
// read (path NULL).
int Report(CtlOutput* pOut, const char* path);
