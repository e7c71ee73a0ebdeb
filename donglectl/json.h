// A small streaming JSON writer for donglectl's --json output: one document on standard output,
// written as it is built, with no allocation. Text from the platform is in the ANSI code page;
// the writer turns every character outside printable ASCII into a \u escape of its UTF-16 code
// units, so that the document is valid whatever the code page.
#pragma once

#include "platform/platform.h"

enum { cJsonDepth = 8 };

struct JsonWriter {
    int depth;
    bool bFirst[cJsonDepth];
    char closer[cJsonDepth]; // what closes each level that is open
};

// Opens the document's outermost object.
void JsonStart(JsonWriter* pJson);
// Closes whatever is still open, the outermost object last, and ends the line.
void JsonFinish(JsonWriter* pJson);
// Opens an object ('{') or an array ('['), as the member key of the enclosing object, or as an
// element of the enclosing array (key NULL).
void JsonOpen(JsonWriter* pJson, const char* key, char open);
void JsonClose(JsonWriter* pJson, char close);
// Members (key NULL: array elements). text holds at most cchMax bytes, up to its first NUL; NULL
// text is written as null.
void JsonString(JsonWriter* pJson, const char* key, const char* text, size_t cchMax);
void JsonNumber(JsonWriter* pJson, const char* key, unsigned long value);
void JsonSigned(JsonWriter* pJson, const char* key, long value);
void JsonBool(JsonWriter* pJson, const char* key, bool value);
// The identifiers of a multi-string in buffer (cbIdBuffer bytes, not necessarily terminated), as
// an array; null when bRead is false.
void JsonIdList(JsonWriter* pJson, const char* key, BOOL bRead, const char* buffer);
