// The inventory as an indented text tree or as one JSON document, on standard output.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "board_inventory.h"

namespace info {

struct Inventory {
    std::vector<BoardInfo> boards;
    bool bPaths = false, bNetwork = false, bAdapters = false;
    std::vector<std::pair<std::string, std::string>> systemPaths;
    std::string sNetwork;
    std::vector<AdapterInfo> adapters;
};

void printTextReport(const Inventory& inventory);
void printJsonReport(const Inventory& inventory);

}  // namespace info
