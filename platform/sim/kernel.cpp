// The simulated platform: the kernel's last error and pause, and the runtime's multibyte
// comparison under the code page the test chose.
#include "platform/sim/state.h"

#include <iconv.h>

#include <string>

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

// Recorded, never slept: the platform's clock moves on instead, so tests stay fast and can check
// every pause asked for. Plug steps due by the pause's end take effect, and a console event
// planted for this pause is raised during it.
void Sleep(DWORD dwMilliseconds) {
    if (std::this_thread::get_id() != St().mainThread) {
        // A console handler's pause: over once the program's clock has moved on as far, or its
        // entry has returned.
        // Its time runs on from where its last pause ended, however far the program's clock
        // moved meanwhile.
        std::unique_lock<std::mutex> lock(St().clockMutex);
        const DWORD until = St().handlerClock + dwMilliseconds;
        while (St().now < until && !St().entryReturned) {
            St().handlerWaiting = true;
            St().clockMoved.notify_all();
            St().clockMoved.wait(lock);
        }
        St().handlerClock = until;
        return;
    }
    sim::Call();
    const size_t pause = St().sleeps.size();
    St().sleeps.push_back(dwMilliseconds);
    sim::Event("Sleep " + std::to_string(dwMilliseconds));
    sim::Advance(dwMilliseconds);
    auto event = St().consoleEvents.find(pause);
    if (event != St().consoleEvents.end()) {
        sim::RaiseConsoleEvent(event->second);
    }
}

// Events: manual-reset ones are all the program asks for.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    if (lpEventAttributes != nullptr || !bManualReset || lpName != nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    St().eventObjects.emplace_back(bInitialState != FALSE);
    return (HANDLE)St().eventObjects.size();
}

} // extern "C"

namespace sim {
std::atomic<bool>* EventObject(HANDLE hEvent) {
    const size_t n = (size_t)hEvent;
    if (n == 0 || n > St().eventObjects.size()) {
        St().badHandles++;
        return nullptr;
    }
    return &St().eventObjects[n - 1];
}
} // namespace sim

extern "C" {

BOOL SetEvent(HANDLE hEvent) {
    std::atomic<bool>* e = sim::EventObject(hEvent);
    if (e == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    *e = true;
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    std::atomic<bool>* e = sim::EventObject(hEvent);
    if (e == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    *e = false;
    return TRUE;
}

// A pause that ends early when the event is signalled (see sim::WaitAny).
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if ((size_t)hHandle >= sim::kMutexHandles && (size_t)hHandle < sim::kFileHandles) {
        sim::Call();
        return sim::WaitForMutex(hHandle, dwMilliseconds);
    }
    return sim::WaitAny(1, &hHandle, dwMilliseconds, false);
}

DWORD GetTickCount(void) {
    return St().now;
}

// The runtime's bounded case-insensitive comparison. Under a double-byte code page a lead byte
// and its trail byte form one character, counted once and folded as a whole; under a single-byte
// code page only A-Z fold, as in the runtime's "C" locale.
BOOL IsDBCSLeadByte(BYTE TestChar) {
    return IsLeadByte(TestChar) ? TRUE : FALSE;
}

// CP_ACP only, the code page the test chose; MB_ERR_INVALID_CHARS makes a byte sequence the code
// page gives no character fail with ERROR_NO_UNICODE_TRANSLATION.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        WCHAR* lpWideCharStr, int cchWideChar) {
    if (CodePage != CP_ACP || lpMultiByteStr == nullptr || cbMultiByte <= 0 ||
        (dwFlags & ~(DWORD)MB_ERR_INVALID_CHARS) != 0) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string name = "CP" + std::to_string(St().codePage);
    iconv_t cd = iconv_open("UTF-16LE", name.c_str());
    if (cd == (iconv_t)-1) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string in(lpMultiByteStr, (size_t)cbMultiByte);
    char out[64];
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out;
    size_t dstLeft = sizeof(out);
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == (size_t)-1 || srcLeft != 0) {
        sim::Fail(1113); // ERROR_NO_UNICODE_TRANSLATION
        return 0;
    }
    const int units = (int)((sizeof(out) - dstLeft) / 2);
    if (lpWideCharStr != nullptr) {
        if (units > cchWideChar) {
            sim::Fail(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        for (int k = 0; k < units; k++) {
            lpWideCharStr[k] =
                (WCHAR)((unsigned char)out[2 * k] | (unsigned char)out[2 * k + 1] << 8);
        }
    }
    return units;
}

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
