#pragma once
// The query forms the control sends:
//   select * from <table> [where <field> = "<text>"] [;]
// Keywords and names are matched without regard to case; a doubled double
// quote inside the text stands for one quote. Names are bare words of
// letters, digits, '_' and '-' (so "Audio_Asana-3" names a table) or are
// written in [brackets].

#include <optional>
#include <string>
#include <string_view>

#include "control/error.hpp"

namespace strovia::jet {

struct Query {
    std::string table;
    struct Condition {
        std::string field;
        std::string text;
    };
    std::optional<Condition> where;
};

Result<Query> parse_query(std::string_view text);

}  // namespace strovia::jet
