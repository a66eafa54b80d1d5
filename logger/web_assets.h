// The live view's page, script, style and chart library, built into queno_log (generated from
// logger/web/ and the chart library's npm package at build time).
#pragma once

#include <stddef.h>

namespace qlog {

struct WebAsset {
    const char* sPath;  // "/", "/view.js", ...
    const char* sType;  // its Content-Type (every one is UTF-8 text)
    const unsigned char* pData;
    size_t nSize;
};

extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;

}  // namespace qlog
