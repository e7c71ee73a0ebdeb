// Stands in for donglecensus.exe or donglectl.exe in the docs' batch examples: prints
// FAKE_LINES census lines and exits with FAKE_STATUS (a signed number, as %ERRORLEVEL% shows it).
#include <cstdio>
#include <cstdlib>

int main() {
    const char* lines = getenv("FAKE_LINES");
    const char* status = getenv("FAKE_STATUS");
    for (long i = lines != nullptr ? strtol(lines, nullptr, 10) : 0; i > 0; i--) {
        puts("USB\\VID_7B2E&PID_2F40&REV_0100");
    }
    return status != nullptr ? (int)strtol(status, nullptr, 10) : 0;
}
