#include <gtest/gtest.h>

#include "zrn/json.h"

namespace zrn::json {
namespace {

Value parsed(std::string_view text) {
    Value v;
    std::string error;
    EXPECT_TRUE(parse(text, &v, &error)) << text << ": " << error;
    return v;
}

std::string error_of(std::string_view text) {
    Value v;
    std::string error;
    EXPECT_FALSE(parse(text, &v, &error)) << text;
    return error;
}

TEST(Json, EscapesAnsiBytesAndControlCharactersAndReadsThemBack) {
    const std::string text = std::string("a\"b\\c\nd\te\r") + '\x01' + '\x7f' + '\xe9' + "/";
    EXPECT_EQ(quote(text), "\"a\\\"b\\\\c\\nd\\te\\r\\u0001\\u007f\\u00e9/\"");
    EXPECT_EQ(parsed(quote(text)).as_string(), text);
    // UTF-8 of a Latin-1 character reads as that one byte; \/ and \b too.
    EXPECT_EQ(parsed("\"\xc3\xa9\\/\\b\"").as_string(), "\xe9/\b");
}

TEST(Json, DumpKeepsMemberOrderAndRoundTrips) {
    Value doc = Value::object();
    doc.set("schema", "x");
    doc.set("version", 1);
    Value list = Value::array();
    Value item = Value::object();
    item.set("Port", std::int64_t{-2147483648LL});
    item.set("on", true);
    item.set("none", Value());
    list.push(item);
    doc.set("devices", list);
    doc.set("empty", Value::object());
    doc.set("version", 2);  // replaces, keeps the first position
    EXPECT_EQ(dump(doc),
              "{\"schema\":\"x\",\"version\":2,\"devices\":[{\"Port\":-2147483648,\"on\":true,\"none\":null}],"
              "\"empty\":{}}");
    EXPECT_EQ(dump(parsed(dump(doc, true))), dump(doc));
    EXPECT_EQ(parsed(dump(doc, true)), doc);
    EXPECT_NE(dump(doc, true).find("\n  \"version\": 2,"), std::string::npos);
}

TEST(Json, ReadsNumbersAtTheEdgesOf64Bits) {
    EXPECT_EQ(parsed("9223372036854775807").as_number(), INT64_MAX);
    EXPECT_EQ(parsed("-9223372036854775808").as_number(), INT64_MIN);
    EXPECT_EQ(parsed(" [ 0 , -0 ] ").items().size(), 2u);
    EXPECT_NE(error_of("9223372036854775808").find("out of range"), std::string::npos);
    EXPECT_NE(error_of("-9223372036854775809").find("out of range"), std::string::npos);
    EXPECT_NE(error_of("1.5").find("whole numbers"), std::string::npos);
    EXPECT_NE(error_of("1e3").find("whole numbers"), std::string::npos);
    EXPECT_NE(error_of("01").find("start with 0"), std::string::npos);
}

TEST(Json, RefusesBrokenTextSayingWhere) {
    EXPECT_EQ(error_of("{\n  \"a\": 1,\n  \"a\": 2\n}"), "line 3, column 3: member \"a\" given twice");
    EXPECT_EQ(error_of("{\"a\": 1,}"), "line 1, column 9: a member name in quotes expected");
    EXPECT_EQ(error_of("[1 2]"), "line 1, column 4: ',' or ']' expected");
    EXPECT_EQ(error_of("{} x"), "line 1, column 4: text after the end of the JSON value");
    EXPECT_EQ(error_of(""), "line 1, column 1: a value is missing");
    EXPECT_EQ(error_of("\"abc"), "line 1, column 5: a string is not closed");
    EXPECT_EQ(error_of("tru"), "line 1, column 1: unknown word");
    EXPECT_FALSE(error_of("\"a\nb\"").empty());
    EXPECT_FALSE(error_of("\"\\u0100\"").empty());
    EXPECT_FALSE(error_of("\"\\u00g0\"").empty());
    EXPECT_FALSE(error_of("\"\\q\"").empty());
    EXPECT_FALSE(error_of("\"\xe2\x82\xac\"").empty());  // the euro sign is above U+00FF
    EXPECT_FALSE(error_of("\"\xff\"").empty());
    EXPECT_FALSE(error_of("{\"a\" 1}").empty());
    // Nesting is bounded, so hostile input cannot exhaust the stack.
    EXPECT_NO_FATAL_FAILURE(parsed(std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']')));
    EXPECT_NE(error_of(std::string(kMaxDepth + 1, '[') + std::string(kMaxDepth + 1, ']')).find("deeply"),
              std::string::npos);
    EXPECT_FALSE(error_of(std::string(100000, '[')).empty());
}

TEST(Json, FindsMembersByExactName) {
    const Value v = parsed("{\"Port\": 2, \"port\": \"x\"}");
    ASSERT_NE(v.find("Port"), nullptr);
    EXPECT_EQ(v.find("Port")->as_number(), 2);
    EXPECT_EQ(v.find("port")->as_string(), "x");
    EXPECT_EQ(v.find("PORT"), nullptr);

    // An object of very many members (4 MB of them) is read in one pass,
    // its order kept; the last member given twice is still found.
    std::string big = "{";
    for (int i = 0; i < 200000; ++i) big += "\"member" + std::to_string(i) + "\": " + std::to_string(i) + ",";
    big += "\"member0\": 1}";
    EXPECT_NE(error_of(big).find("member \"member0\" given twice"), std::string::npos);
    big.replace(big.size() - 13, 13, "\"last\": -1}");
    const Value many = parsed(big);
    ASSERT_EQ(many.members().size(), 200001u);
    EXPECT_EQ(many.members()[123456].first, "member123456");
    EXPECT_EQ(many.find("last")->as_number(), -1);
}

}  // namespace
}  // namespace zrn::json
