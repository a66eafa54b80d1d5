// An argument vector for tests: Args args{"prog", "3", "5"}; then args.argc(), args.argv().
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class Args {
public:
    Args(std::initializer_list<const char*> items) {
        for (const char* s : items) texts_.emplace_back(s);
        for (std::string& s : texts_) pointers_.push_back(&s[0]);
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};
