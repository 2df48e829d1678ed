// The query forms the control sends, and the malformed ones it must refuse.

#include <gtest/gtest.h>

#include "catalogue/engine.hpp"
#include "jet/query.hpp"

namespace strovia::jet {
namespace {

TEST(QueryParser, AcceptsTheControlsFormsWhateverTheCase) {
    const struct {
        const char* text;
        const char* table;
        const char* field;  // null: no condition
        const char* value;
    } cases[] = {
        {"SeLeCt  *  FrOm\tPhoto_Asana-7 ;", "Photo_Asana-7", nullptr, nullptr},
        {R"(select * from Asanas WHERE name = "Warrior ""II""")", "Asanas", "name",
         "Warrior \"II\""},
        {R"(select * from [My Table] where [the name]="")", "My Table", "the name", ""},
    };
    for (const auto& c : cases) {
        auto q = parse_query(c.text);
        ASSERT_TRUE(q.ok()) << c.text << ": " << q.error().text;
        EXPECT_EQ(q->table, c.table);
        ASSERT_EQ(q->where.has_value(), c.field != nullptr) << c.text;
        if (c.field) {
            EXPECT_EQ(q->where->field + "=" + q->where->text, std::string(c.field) + "=" + c.value);
        }
    }
}

TEST(QueryParser, RefusesMalformedTextsWithTheEnginesNumbers) {
    struct Case {
        const char* text;
        std::int32_t number;
    };
    const Case cases[] = {
        {"", engine_error::kInvalidStatement},
        {"delete * from Asanas", engine_error::kInvalidStatement},
        {"select name from Asanas", engine_error::kQuerySyntax},
        {"select * Asanas", engine_error::kQuerySyntax},
        {"select * from", engine_error::kFromSyntax},
        {"select * from where", engine_error::kFromSyntax},
        {R"(select * from Asanas where name = "open)", engine_error::kQuerySyntax},
        {R"(select * from Asanas where name = "Warrior "II"")", engine_error::kQuerySyntax},
        {R"(select * from Asanas where name = "x" or "a"="a")", engine_error::kQuerySyntax},
        {"select * from Asanas where name = Tadasana", engine_error::kQuerySyntax},
        {"select * from Asanas; select * from Asanas", engine_error::kTrailingCharacters},
        {"select * from Audio_Asana 12", engine_error::kFromSyntax},
    };
    for (const auto& c : cases) {
        auto q = parse_query(c.text);
        ASSERT_FALSE(q.ok()) << c.text;
        EXPECT_EQ(q.error().number, c.number) << c.text << ": " << q.error().text;
    }
}

}  // namespace
}  // namespace strovia::jet
