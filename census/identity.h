// The dongle's identity: the patterns its device nodes are known by, and the one rule by which an
// identifier read from a device is held against them.
#pragma once

#include "platform/platform.h"

// First hardware ID of the dongle and of each of its interface nodes.
extern const char szDongleId[];
// First hardware ID of the dongle's second product.
extern const char szDongleId2[];
// First compatible ID of a node of the association class (USB class EFh, subclass 03h,
// protocol 01h).
extern const char szAssocClassId[];

// Size in bytes of every property buffer the device operations use.
enum { cbIdBuffer = 260 };

// True when the first identifier in buffer begins with pattern, case ignored. Compares as many
// characters as the pattern has and reads nothing further, so buffer need not hold a NUL.
bool MatchesIdPrefix(const char* buffer, const char* pattern);

// Reads an identifier-list property (SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS) of one device into
// buffer, which holds cbIdBuffer bytes. The buffer is cleared first, so that a read returning
// fewer bytes than the one before it cannot leave an earlier identifier behind for the pattern
// test. pnSize receives the required size and may be NULL.
BOOL ReadIdProperty(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, DWORD dwProperty, char* buffer,
                    DWORD* pnSize);

// True when an identifier after the first one of the multi-string in buffer (cbIdBuffer bytes,
// not necessarily terminated) begins with pattern. Only identifiers that leave room for the
// pattern within the buffer are held against it.
bool LaterIdMatches(const char* buffer, const char* pattern);
