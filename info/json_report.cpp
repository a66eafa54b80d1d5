// The JSON document: every channel on its own, keys in the order they are read.
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "reports.h"

namespace info {

namespace {

using Json = nlohmann::ordered_json;

// A number where the text is one ("10" -> 10, "0.5" -> 0.5), the text otherwise ("Ohm").
Json valueJson(const std::string& sText) {
    char* pEnd = nullptr;
    const double d = strtod(sText.c_str(), &pEnd);
    if (sText.empty() || *pEnd != '\0' || !isfinite(d) || isspace(static_cast<unsigned char>(sText[0]))) return sText;
    if (d == nearbyint(d) && fabs(d) < 9e15) return static_cast<int64_t>(d);
    return d;
}

Json modeJson(const ModeInfo& mode) {
    Json lists = Json::object(), settings = Json::object();
    for (const auto& list : mode.lists) lists[list.first] = list.second;
    for (const auto& setting : mode.settings) {
        Json attributes = Json::object();
        for (const auto& attribute : setting.second) attributes[attribute.first] = valueJson(attribute.second);
        settings[setting.first] = attributes;
    }
    return Json{{"name", mode.sName}, {"lists", lists}, {"settings", settings}};
}

Json boardJson(const BoardInfo& board) {
    Json channels = Json::object(), counts = Json::object();
    for (const ChannelKindInfo& kind : board.kinds) {
        counts[kind.sKind] = kind.nCount;
        Json list = Json::array();
        for (const ChannelInfo& channel : kind.channels) {
            Json modes = Json::array();
            for (const ModeInfo& mode : channel.modes) modes.push_back(modeJson(mode));
            list.push_back(kind.bHasModes ? Json{{"channel", channel.nChannel}, {"modes", modes}}
                                          : Json{{"channel", channel.nChannel}});
        }
        channels[kind.sKind] = list;
    }
    return Json{{"id", board.nBoardId},
                {"name", board.sName},
                {"serial", board.sSerial},
                {"sampleRate", Json{{"min", board.nMinSampleRate}, {"max", board.nMaxSampleRate}}},
                {"resolutionsAI", board.resolutionsAI},
                {"channels", channels},
                {"channelCounts", counts}};
}

}  // namespace

void printJsonReport(const Inventory& inventory) {
    Json document = Json::object();
    Json boards = Json::array();
    for (const BoardInfo& board : inventory.boards) boards.push_back(boardJson(board));
    document["boards"] = boards;
    if (inventory.bPaths) {
        Json paths = Json::object();
        for (const auto& path : inventory.systemPaths) paths[path.first] = path.second;
        document["systemPaths"] = paths;
    }
    if (inventory.bNetwork) document["network"] = inventory.sNetwork;
    if (inventory.bAdapters) {
        Json adapters = Json::array();
        for (const AdapterInfo& adapter : inventory.adapters) {
            adapters.push_back(Json{{"model", adapter.sModel}, {"min", adapter.dMin}, {"max", adapter.dMax}, {"unit", adapter.sUnit}});
        }
        document["adapters"] = adapters;
    }
    // Driver texts are not guaranteed to be UTF-8: replace what is not, rather than fail.
    std::string sText = document.dump(2, ' ', false, Json::error_handler_t::replace);
    printf("%s\n", sText.c_str());
    fflush(stdout);
}

}  // namespace info
