// The text tree. Channels of a kind whose modes, lists and settings are all the same are shown
// once, with their range of numbers (AI0..AI7).
#include <stdio.h>

#include "reports.h"
#include "system_info.h"

namespace info {

namespace {

std::string joined(const std::vector<std::string>& parts, const char* sSeparator) {
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i == 0 ? "" : sSeparator) + parts[i];
    return s;
}

void printModes(const std::vector<ModeInfo>& modes) {
    for (const ModeInfo& mode : modes) {
        printf("    Mode %s\n", mode.sName.c_str());
        for (const auto& list : mode.lists) printf("      %s: %s\n", list.first.c_str(), joined(list.second, ", ").c_str());
        for (const auto& setting : mode.settings) {
            std::vector<std::string> attributes;
            for (const auto& attribute : setting.second) attributes.push_back(attribute.first + "=" + attribute.second);
            printf("      %s: %s\n", setting.first.c_str(), joined(attributes, " ").c_str());
        }
    }
}

void printKind(const ChannelKindInfo& kind) {
    const std::vector<ChannelInfo>& channels = kind.channels;
    for (size_t first = 0; first < channels.size();) {
        size_t last = first;
        while (last + 1 < channels.size() && channels[last + 1].modes == channels[first].modes) ++last;
        std::string sName = kind.sKind + std::to_string(channels[first].nChannel);
        if (last > first) sName += ".." + kind.sKind + std::to_string(channels[last].nChannel);
        printf("  %s\n", sName.c_str());
        printModes(channels[first].modes);
        first = last + 1;
    }
}

void printBoard(const BoardInfo& board) {
    printf("Board %d: %s, serial %s\n", static_cast<int>(board.nBoardId), board.sName.c_str(),
           board.sSerial.empty() ? "unknown" : board.sSerial.c_str());
    printf("  Sample rate: %d..%d S/s\n", static_cast<int>(board.nMinSampleRate), static_cast<int>(board.nMaxSampleRate));
    std::vector<std::string> resolutions, counts;
    for (int32_t n : board.resolutionsAI) resolutions.push_back(std::to_string(n));
    printf("  AI resolutions: %s bits\n", resolutions.empty() ? "none" : joined(resolutions, ", ").c_str());
    for (const ChannelKindInfo& kind : board.kinds) counts.push_back(kind.sKind + " " + std::to_string(kind.nCount));
    printf("  Channels: %s\n", joined(counts, ", ").c_str());
    for (const ChannelKindInfo& kind : board.kinds) printKind(kind);
}

}  // namespace

void printTextReport(const Inventory& inventory) {
    for (const BoardInfo& board : inventory.boards) printBoard(board);
    if (inventory.bPaths) {
        printf("System paths\n");
        for (const auto& path : inventory.systemPaths) printf("  %s: %s\n", path.first.c_str(), path.second.c_str());
    }
    if (inventory.bNetwork) {
        printf("Network interfaces\n");
        DumpXmlTree(inventory.sNetwork.c_str());
    }
    if (inventory.bAdapters) {
        printf("Sensor adapters\n");
        for (const AdapterInfo& adapter : inventory.adapters) {
            printf("  %s: %g..%g %s\n", adapter.sModel.c_str(), adapter.dMin, adapter.dMax, adapter.sUnit.c_str());
        }
    }
    fflush(stdout);
}

}  // namespace info
