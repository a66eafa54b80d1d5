// The JSON document: every channel on its own, keys in the order they are read.
#include <stdio.h>

#include <nlohmann/json.hpp>

#include "reports.h"

namespace info {

namespace {

using Json = nlohmann::ordered_json;

Json modeJson(const ModeInfo& mode) {
    Json lists = Json::object(), settings = Json::object();
    for (const auto& list : mode.lists) lists[list.first] = list.second;
    for (const auto& setting : mode.settings) {
        Json attributes = Json::object();
        for (const auto& attribute : setting.second) attributes[attribute.first] = attribute.second;
        settings[setting.first] = attributes;
    }
    return Json{{"name", mode.sName}, {"lists", lists}, {"settings", settings}};
}

Json boardJson(const BoardInfo& board) {
    Json channels = Json::object(), counts = Json::object();
    for (const ChannelKindInfo& kind : board.kinds) {
        counts[kind.sKind] = kind.nCount;
        if (!kind.bHasModes) continue;
        Json list = Json::array();
        for (const ChannelInfo& channel : kind.channels) {
            Json modes = Json::array();
            for (const ModeInfo& mode : channel.modes) modes.push_back(modeJson(mode));
            list.push_back(Json{{"channel", channel.nChannel}, {"modes", modes}});
        }
        channels[kind.sKind] = list;
    }
    return Json{{"id", board.nBoardId},
                {"name", board.sName},
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
