// The simulated platform: the kernel's last error and pause, and the runtime's multibyte
// comparison under the code page the test chose.
#include "platform/sim/state.h"

using sim::St;

namespace {

bool IsLeadByte(unsigned char c) {
    switch (St().codePage) {
    case 932:
        return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
    case 936:
    case 949:
    case 950:
        return c >= 0x81 && c <= 0xfe;
    default:
        return false;
    }
}

unsigned int FoldChar(unsigned int c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 'a';
    }
    // Full-width Latin capitals of code page 932.
    if (St().codePage == 932 && c >= 0x8260 && c <= 0x8279) {
        return c + 0x21;
    }
    return c;
}

} // namespace

extern "C" {

DWORD GetLastError(void) {
    return St().lastError;
}

void SetLastError(DWORD dwErrCode) {
    St().lastError = dwErrCode;
}

// Recorded, never slept: tests stay fast and can check every pause asked for.
void Sleep(DWORD dwMilliseconds) {
    St().sleeps.push_back(dwMilliseconds);
    sim::Event("Sleep " + std::to_string(dwMilliseconds));
}

// The runtime's bounded case-insensitive comparison. Under a double-byte code page a lead byte
// and its trail byte form one character, counted once and folded as a whole; under a single-byte
// code page only A-Z fold, as in the runtime's "C" locale.
int _mbsnicmp(const unsigned char* string1, const unsigned char* string2, size_t count) {
    while (count-- > 0) {
        if (*string1 == 0) {
            return *string2 ? -1 : 0;
        }
        if (*string2 == 0) {
            return 1;
        }
        unsigned int c1 = *string1;
        unsigned int c2 = *string2;
        const bool wide = IsLeadByte(*string1);
        if (wide) {
            c1 = (c1 << 8) | string1[1];
        }
        if (IsLeadByte(*string2)) {
            c2 = (c2 << 8) | string2[1];
        }
        c1 = FoldChar(c1);
        c2 = FoldChar(c2);
        if (c1 != c2) {
            return c1 < c2 ? -1 : 1;
        }
        string1 += wide ? 2 : 1;
        string2 += wide ? 2 : 1;
    }
    return 0;
}

} // extern "C"
