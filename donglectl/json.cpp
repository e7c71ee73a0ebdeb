#include "donglectl/json.h"

#include "census/identity.h"

static void WriteString(const char* text, size_t cch);

// The comma before every member but the first, and the member's key.
static void Separate(JsonWriter* pJson, const char* key) {
    if (!pJson->bFirst[pJson->depth]) {
        (void)putchar(',');
    }
    pJson->bFirst[pJson->depth] = false;
    if (key != NULL) {
        WriteString(key, strlen(key));
        (void)putchar(':');
    }
}

void JsonStart(JsonWriter* pJson) {
    memset(pJson, 0, sizeof(*pJson));
    pJson->bFirst[0] = true;
    (void)putchar('{');
    pJson->depth = 1;
    pJson->bFirst[1] = true;
    pJson->closer[1] = '}';
}

void JsonFinish(JsonWriter* pJson) {
    while (pJson->depth > 0) {
        JsonClose(pJson, pJson->closer[pJson->depth]);
    }
    (void)putchar('\n');
}

void JsonOpen(JsonWriter* pJson, const char* key, char open) {
    Separate(pJson, key);
    (void)putchar(open);
    if (pJson->depth + 1 < cJsonDepth) {
        pJson->depth++;
    }
    pJson->bFirst[pJson->depth] = true;
    pJson->closer[pJson->depth] = open == '{' ? '}' : ']';
}

void JsonClose(JsonWriter* pJson, char close) {
    (void)putchar(close);
    if (pJson->depth > 0) {
        pJson->depth--;
    }
}

// One UTF-16 code unit as a \u escape.
static void PutEscape(unsigned int unit) {
    printf("\\u%04x", unit & 0xFFFFu);
}

void JsonString(JsonWriter* pJson, const char* key, const char* text, size_t cchMax) {
    Separate(pJson, key);
    if (text == NULL) {
        (void)fputs("null", stdout);
        return;
    }
    const char* end = (const char*)memchr(text, '\0', cchMax);
    WriteString(text, end != NULL ? (size_t)(end - text) : cchMax);
}

static void WriteString(const char* text, size_t cch) {
    (void)putchar('"');
    for (size_t i = 0; i < cch;) {
        const unsigned char c = (unsigned char)text[i];
        if (c >= 0x20 && c < 0x7F) {
            if (c == '"' || c == '\\') {
                (void)putchar('\\');
            }
            (void)putchar(c);
            i++;
            continue;
        }
        if (c < 0x80) {
            PutEscape(c);
            i++;
            continue;
        }
        // A character of the ANSI code page: one byte, or a lead byte and its trail byte.
        WCHAR units[2];
        const int cb = IsDBCSLeadByte(c) && i + 1 < cch ? 2 : 1;
        const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text + i, cb, units, 2);
        if (n <= 0) {
            PutEscape(0xFFFD); // a byte the code page gives no character
        }
        for (int k = 0; k < n; k++) {
            PutEscape(units[k]);
        }
        i += (size_t)cb;
    }
    (void)putchar('"');
}

void JsonNumber(JsonWriter* pJson, const char* key, unsigned long value) {
    Separate(pJson, key);
    printf("%lu", value);
}

void JsonSigned(JsonWriter* pJson, const char* key, long value) {
    Separate(pJson, key);
    printf("%ld", value);
}

void JsonBool(JsonWriter* pJson, const char* key, bool value) {
    Separate(pJson, key);
    (void)fputs(value ? "true" : "false", stdout);
}

void JsonIdList(JsonWriter* pJson, const char* key, BOOL bRead, const char* buffer) {
    if (!bRead) {
        JsonString(pJson, key, NULL, 0);
        return;
    }
    JsonOpen(pJson, key, '[');
    for (size_t i = 0; i < cbIdBuffer && buffer[i] != '\0';) {
        const char* end = (const char*)memchr(buffer + i, '\0', cbIdBuffer - i);
        const size_t cch = end != NULL ? (size_t)(end - (buffer + i)) : cbIdBuffer - i;
        JsonString(pJson, NULL, buffer + i, cch);
        i += cch + 1;
    }
    JsonClose(pJson, ']');
}
