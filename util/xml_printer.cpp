// The character-driven XML printer: indentation of 2 blanks per level, no parsing.
#include <limits.h>
#include <stdio.h>

#include "system_info.h"

namespace {

// 2 x depth blanks; a negative depth prints as its magnitude (the printf family left-justifies a
// negative width). Clamped so that an absurdly deep text cannot overflow the width.
int indentWidth(long long nDepth) {
    long long nWidth = 2 * nDepth;
    if (nWidth > INT_MAX) return INT_MAX;
    if (nWidth < -INT_MAX) return -INT_MAX;
    return static_cast<int>(nWidth);
}

}  // namespace

extern "C" int32_t DumpXmlTree(const char* sText) {
    if (sText == nullptr) return 0;
    long long nDepth = 0;
    bool bAfterTag = false;
    for (const char* p = sText; *p != '\0';) {
        char c = p[0];
        char cNext = p[1];  // at worst the terminator
        if (c == '<' && cNext == '/') {
            --nDepth;
            if (bAfterTag) {
                fputs("</", stdout);
            } else {
                printf("\n%*s</", indentWidth(nDepth), "");
            }
            bAfterTag = true;
            p += 2;
        } else if (c == '<') {
            if (bAfterTag) {
                putchar('<');
            } else {
                printf("%*s<", indentWidth(nDepth), "");
            }
            ++nDepth;
            ++p;
        } else if (c == '/' && cNext == '>') {
            --nDepth;
            printf("/>\n%*s", indentWidth(nDepth), "");
            bAfterTag = true;
            p += 2;
        } else if (c == '>') {
            printf(">\n%*s", indentWidth(nDepth), "");
            bAfterTag = true;
            ++p;
        } else if (c == '\n') {
            ++p;
        } else {
            putchar(static_cast<unsigned char>(c));
            bAfterTag = false;
            ++p;
        }
    }
    return 0;
}
