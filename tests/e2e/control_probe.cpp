// Test program for the Wine tests of the device module: runs the operations named on its
// command line and prints their results.
//   control_probe {interface-class-guid} disable|enable|status ...
#include "tests/support/control_ops.h"

int main(int argc, char** argv) {
    GUID interfaceClass;
    if (argc < 3 || !ParseGuid(argv[1], &interfaceClass)) {
        fprintf(stderr, "usage: control_probe {guid} disable|enable|status ...\n");
        return 2;
    }
    if (!RunControlOps(interfaceClass, argc - 2, argv + 2)) {
        fprintf(stderr, "unknown operation\n");
        return 2;
    }
    return 0;
}
