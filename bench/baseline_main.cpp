// census_baseline.exe: the census's Setup API calls alone, to weigh the program's own work
// against. Prints nothing, writes nothing, exits 0.
#include "bench/baseline_calls.h"

int main() {
    BaselineCalls();
    return 0;
}
