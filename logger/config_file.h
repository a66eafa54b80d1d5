// queno_log's configuration file: TOML, one key for each long option of the same name
// (rate = 10, output-format = "sigmf", rotate = "1d", raw = true) and the channels as a list
// (channels = ["AI0:pt100", "AI1:pt100,IIRFilter_VAL=10"]). The file is read as a file anyone may
// have put there: a regular file of at most 1 MiB, each key once, of a known name and type.
#pragma once

#include <string>
#include <vector>

namespace qlog {

struct ConfigKey {
    std::string sName;
    bool bTakesValue;  // false: a switch, true or false in the file
};

struct ConfigEntry {
    std::string sKey;
    std::string sValue;               // a value as the command line would give it
    bool bFlag = false;               // a switch's value
    std::vector<std::string> values;  // channels
    int nLine = 0;
};

// The file's entries in the order they stand. False with "FILE:LINE: why" (or "FILE: why").
bool readConfigFile(const std::string& sPath, const std::vector<ConfigKey>& keys, std::vector<ConfigEntry>* pEntries,
                    std::string* pError);

// A TOML string: quoted, with backslash escapes.
std::string tomlString(const std::string& s);

}  // namespace qlog
