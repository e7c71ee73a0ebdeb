// donglectl status and list: what the dongle's nodes are, read-only.
#pragma once

#include "donglectl/shared.h"

int Status(CtlOutput* pOut);
// Every node that names the dongle's vendor or that the census counts; with a class, whether
// disable and enable would select it for that class.
int List(CtlOutput* pOut, const GUID* pInterfaceClass);
// Writes to standard error, for each node that list shows, why the verb (disable, enable, reset)
// passed it over for the class (reset: its disable pass); says when the GUID is a setup class,
// not an interface class. Notes the exit status for nothing selected as donglectl's own.
void ExplainNothingSelected(CtlOutput* pOut, GUID interfaceClass, const char* verb);
