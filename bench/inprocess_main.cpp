// census_inprocess.exe ROUNDS: the census as donglecensus.exe takes it (CountPresentDongles: the
// device list, the rule, the lines, the record) and its Setup API calls alone (BaselineCalls),
// timed inside one process, so that no process start or Wine's own start weighs on either. One
// warm-up of each, then ROUNDS rounds of one of each, the order swapped every round. The census's
// lines go to NUL. Prints to standard error the count, then each round's census and baseline
// times in seconds: "count N", "census T ...", "baseline T ...". Exit status 0, or 1 on a usage
// error or when the device list cannot be had.
#include "bench/baseline_calls.h"
#include "census/census.h"
#include "census/identity.h"

#include <cstdlib>
#include <vector>

static double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to,
                      const LARGE_INTEGER& frequency) {
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

// One run of what census says (true: the census), timed.
static double Timed(bool census, const LARGE_INTEGER& frequency, DWORD* pnCount) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    if (census) {
        CountPresentDongles(szDongleId, szAssocClassId, szDongleId2, pnCount);
    } else {
        BaselineCalls();
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end, frequency);
}

int main(int argc, char** argv) {
    const int rounds = argc == 2 ? atoi(argv[1]) : 0;
    if (rounds < 1 || rounds > 100000) {
        fprintf(stderr, "usage: census_inprocess ROUNDS\n");
        return 1;
    }
    if (freopen("NUL", "w", stdout) == NULL) {
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    DWORD nCount = 0;
    (void)Timed(true, frequency, &nCount);
    (void)Timed(false, frequency, &nCount);
    std::vector<double> census;
    std::vector<double> baseline;
    for (int i = 0; i < rounds; i++) {
        const bool censusFirst = i % 2 == 0;
        const double first = Timed(censusFirst, frequency, &nCount);
        const double second = Timed(!censusFirst, frequency, &nCount);
        census.push_back(censusFirst ? first : second);
        baseline.push_back(censusFirst ? second : first);
    }
    fprintf(stderr, "count %lu\ncensus", (unsigned long)nCount);
    for (double t : census) {
        fprintf(stderr, " %.9f", t);
    }
    fprintf(stderr, "\nbaseline");
    for (double t : baseline) {
        fprintf(stderr, " %.9f", t);
    }
    fprintf(stderr, "\n");
    return 0;
}
