// The query forms the control sends, and the malformed ones it must refuse.

#include <gtest/gtest.h>

#include "catalogue/engine.hpp"
#include "jet/query.hpp"

namespace strovia::jet {
namespace {

TEST(QueryParser, AcceptsTheControlsFormsWhateverTheCase) {
    auto q = parse_query("select * from Audio_Asana12");
    ASSERT_TRUE(q.ok());
    EXPECT_EQ(q->table, "Audio_Asana12");
    EXPECT_FALSE(q->where);

    q = parse_query("SeLeCt  *  FrOm\tPhoto_Asana-7 ;");
    ASSERT_TRUE(q.ok()) << q.error().text;
    EXPECT_EQ(q->table, "Photo_Asana-7");

    q = parse_query(R"(select * from Asanas WHERE name = "Warrior ""II""")");
    ASSERT_TRUE(q.ok()) << q.error().text;
    ASSERT_TRUE(q->where);
    EXPECT_EQ(q->where->field, "name");
    EXPECT_EQ(q->where->text, "Warrior \"II\"");

    q = parse_query(R"(select * from [My Table] where [the name]="")");
    ASSERT_TRUE(q.ok()) << q.error().text;
    EXPECT_EQ(q->table, "My Table");
    EXPECT_EQ(q->where->text, "");
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
