#pragma once
// The ordered record of effects that the doubles share.

#include <algorithm>
#include <string>
#include <vector>

namespace strovia::test {

class Trace {
public:
    void add(std::string line) { lines_.push_back(std::move(line)); }
    // Lines since the last take(), then forgets them.
    std::vector<std::string> take() {
        std::vector<std::string> out(lines_.begin() + static_cast<std::ptrdiff_t>(mark_),
                                     lines_.end());
        mark_ = lines_.size();
        return out;
    }
    bool contains(const std::string& line) const {
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }

private:
    std::vector<std::string> lines_;
    std::size_t mark_ = 0;
};

}  // namespace strovia::test
