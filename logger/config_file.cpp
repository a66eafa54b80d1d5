#include "config_file.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <charconv>

#ifdef QUENO_WITH_TOML
#include <toml++/toml.h>
#endif

#include "regular_file.h"

namespace qlog {

namespace {

constexpr size_t kMaxConfigBytes = 1 << 20;

std::string numberText(double d) {
    char s[64];
    const auto result = std::to_chars(s, s + sizeof(s), d);
    return std::string(s, result.ptr);
}

}  // namespace

std::string tomlString(const std::string& s) {
    std::string sOut = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            sOut += '\\';
            sOut += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char sHex[8];
            snprintf(sHex, sizeof(sHex), "\\u%04x", c);
            sOut += sHex;
        } else {
            sOut += static_cast<char>(c);
        }
    }
    return sOut + "\"";
}

#ifndef QUENO_WITH_TOML
bool readConfigFile(const std::string& sPath, const std::vector<ConfigKey>&, std::vector<ConfigEntry>*, std::string* pError) {
    *pError = sPath + ": this queno_log was built without toml++ (libtomlplusplus-dev): it cannot read a configuration file";
    return false;
}
#else
bool readConfigFile(const std::string& sPath, const std::vector<ConfigKey>& keys, std::vector<ConfigEntry>* pEntries,
                    std::string* pError) {
    std::string sText;
    int nErrno = 0;
    switch (readRegularFile(sPath, kMaxConfigBytes, &sText, &nErrno)) {
        case FileRead::Done: break;
        case FileRead::CannotOpen:
        case FileRead::ReadFailed: *pError = sPath + ": " + strerror(nErrno); return false;
        case FileRead::NotRegular: *pError = sPath + ": not a regular file"; return false;
        case FileRead::TooLarge: *pError = sPath + ": more than 1 MiB: not a configuration of queno_log"; return false;
    }
    toml::table table;
    try {
        table = toml::parse(sText, sPath);
    } catch (const toml::parse_error& error) {
        // A key given twice is one of these: TOML itself forbids it.
        *pError = sPath + ":" + std::to_string(error.source().begin.line) + ": " + std::string(error.description());
        return false;
    }
    for (const auto& [key, node] : table) {
        ConfigEntry entry;
        entry.sKey = std::string(key.str());
        entry.nLine = static_cast<int>(key.source().begin.line);
        const std::string sAt = sPath + ":" + std::to_string(entry.nLine) + ": " + entry.sKey + ": ";
        const auto known = std::find_if(keys.begin(), keys.end(), [&](const ConfigKey& k) { return k.sName == entry.sKey; });
        if (known == keys.end()) {
            *pError = sPath + ":" + std::to_string(entry.nLine) + ": unknown key \"" + entry.sKey +
                      "\" (the keys are queno_log's long options and channels)";
            return false;
        }
        if (entry.sKey == "alarm" && node.is_string()) {  // one, or a list of them
            entry.values.push_back(*node.value<std::string>());
        } else if (entry.sKey == "channels" || entry.sKey == "alarm") {
            const toml::array* pList = node.as_array();
            if (pList == nullptr) {
                *pError = sAt + "a list of texts, such as [\"AI0:pt100\", \"AI1:tc-k\"]";
                return false;
            }
            for (const toml::node& item : *pList) {
                const auto sChannel = item.value<std::string>();
                if (!item.is_string() || !sChannel) {
                    *pError = sAt + "a list of texts, such as [\"AI0:pt100\", \"AI1:tc-k\"]";
                    return false;
                }
                entry.values.push_back(*sChannel);
            }
        } else if (!known->bTakesValue) {
            if (!node.is_boolean()) {
                *pError = sAt + "true or false";
                return false;
            }
            entry.bFlag = *node.value<bool>();
        } else if (node.is_string()) {
            entry.sValue = *node.value<std::string>();
        } else if (node.is_integer()) {
            entry.sValue = std::to_string(*node.value<int64_t>());
        } else if (node.is_floating_point()) {
            entry.sValue = numberText(*node.value<double>());
        } else {
            *pError = sAt + "a text or a number";
            return false;
        }
        pEntries->push_back(entry);
    }
    return true;
}
#endif

}  // namespace qlog
