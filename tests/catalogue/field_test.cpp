#include "catalogue/field.hpp"

#include <gtest/gtest.h>

namespace strovia {
namespace {

TEST(FieldConversion, Int16RoundsHalfToEvenAndRejectsOverflow) {
    EXPECT_EQ(*field_as_int16(FieldValue{2.5}), 2);
    EXPECT_EQ(*field_as_int16(FieldValue{3.5}), 4);
    EXPECT_EQ(*field_as_int16(FieldValue{-2.5}), -2);
    EXPECT_EQ(*field_as_int16(FieldValue{2.6}), 3);
    EXPECT_EQ(*field_as_int16(FieldValue{std::int64_t{-32768}}), -32768);
    EXPECT_EQ(*field_as_int16(FieldValue{32767.4}), 32767);
    EXPECT_EQ(field_as_int16(FieldValue{std::int64_t{40000}}).error().number, 6);
    EXPECT_EQ(field_as_int16(FieldValue{32767.5}).error().number, 6);
    EXPECT_EQ(field_as_int16(FieldValue{std::string(" 12 ")}).value(), 12);
    EXPECT_EQ(field_as_int16(FieldValue{std::string("12a")}).error().number, 13);
    EXPECT_EQ(field_as_int16(FieldValue{Null{}}).error().number, 94);
}

TEST(FieldConversion, TextOfNumbersIsTheirDecimalText) {
    EXPECT_EQ(*field_as_text(FieldValue{std::int64_t{-7}}), "-7");
    EXPECT_EQ(*field_as_text(FieldValue{444.555}), "444.555");
    EXPECT_EQ(*field_as_text(FieldValue{12.0}), "12");
    EXPECT_EQ(*field_as_text(FieldValue{true}), "True");
    EXPECT_EQ(field_as_text(FieldValue{Null{}}).error().number, 94);
}

TEST(FieldConversion, DoubleFromNumbersAndNumericText) {
    EXPECT_DOUBLE_EQ(*field_as_double(FieldValue{std::string("3.25")}), 3.25);
    EXPECT_DOUBLE_EQ(*field_as_double(FieldValue{std::int64_t{5}}), 5.0);
    EXPECT_EQ(field_as_double(FieldValue{std::string("abc")}).error().number, 13);
    EXPECT_EQ(field_as_double(FieldValue{Null{}}).error().number, 94);
}

}  // namespace
}  // namespace strovia
