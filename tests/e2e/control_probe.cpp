// Test program for the Wine tests: prints, call by call, what the program relies on of the
// platform (platform_contract.h), for the device whose first hardware ID is
// USB\VID_7B2E&PID_2F40&REV_0100.
//   control_probe {interface-class-guid} contract
#include "control/control.h"
#include "tests/support/platform_contract.h"

int main(int argc, char** argv) {
    GUID interfaceClass;
    if (argc != 3 || !ReadInterfaceClassGuid(argv[1], &interfaceClass) ||
        strcmp(argv[2], "contract") != 0) {
        fprintf(stderr, "usage: control_probe {guid} contract\n");
        return 2;
    }
    PrintPlatformContract(interfaceClass, "USB\\VID_7B2E&PID_2F40&REV_0100");
    return 0;
}
