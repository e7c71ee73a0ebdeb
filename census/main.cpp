// donglecensus: prints the dongle's present device nodes, records their number and exits with it.
#include "census/census.h"
#include "census/identity.h"

int main() {
    DWORD nPresent = 0;
    return (int)CountPresentDongles(szDongleId, szAssocClassId, szDongleId2, &nPresent);
}
