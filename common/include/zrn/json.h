#pragma once

// JSON as the tools print it and read it back: one writer and one parser for
// the whole tree. Texts are the system's ANSI bytes; a byte outside printable
// ASCII is written as \u00XX and read back as that byte, so any registry text
// survives a round trip. Numbers are whole numbers only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zrn::json {

// The text's characters as they stand inside a JSON string (no quotes).
std::string escape(std::string_view text);
// The text as a JSON string, quotes included.
std::string quote(std::string_view text);

class Value {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Value() = default;
    Value(bool b) : type_(Type::Bool), bool_(b) {}
    Value(int n) : type_(Type::Number), number_(n) {}
    Value(std::int64_t n) : type_(Type::Number), number_(n) {}
    Value(std::string s) : type_(Type::String), string_(std::move(s)) {}
    Value(std::string_view s) : type_(Type::String), string_(s) {}
    Value(const char* s) : type_(Type::String), string_(s) {}
    static Value array() { return Value(Type::Array); }
    static Value object() { return Value(Type::Object); }

    Type type() const { return type_; }
    bool is_null() const { return type_ == Type::Null; }
    bool is_bool() const { return type_ == Type::Bool; }
    bool is_number() const { return type_ == Type::Number; }
    bool is_string() const { return type_ == Type::String; }
    bool is_array() const { return type_ == Type::Array; }
    bool is_object() const { return type_ == Type::Object; }

    bool as_bool() const { return bool_; }
    std::int64_t as_number() const { return number_; }
    const std::string& as_string() const { return string_; }
    const std::vector<Value>& items() const { return items_; }
    const std::vector<std::pair<std::string, Value>>& members() const { return members_; }

    // Object: the member of that name, or null when there is none.
    const Value* find(std::string_view name) const;
    // Object: sets a member, keeping the order members were first set in.
    Value& set(std::string_view name, Value v);
    // Object: appends a member the caller knows the object does not have
    // yet, without looking for it (a parser that tracks names itself).
    Value& add_new_member(std::string name, Value v);
    // Array: appends an item.
    Value& push(Value v);

    friend bool operator==(const Value& a, const Value& b);

private:
    explicit Value(Type t) : type_(t) {}
    Type type_ = Type::Null;
    bool bool_ = false;
    std::int64_t number_ = 0;
    std::string string_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;
};

// Compact (one line) or indented by two spaces per level, members in order.
std::string dump(const Value& v, bool pretty = false);

// Parses one JSON text (white space around it allowed). Refuses duplicate
// member names, fractions and exponents, numbers outside 64 bits, nesting
// deeper than kMaxDepth, control characters in strings and characters above
// U+00FF. On failure *error says where: "line L, column C: what".
constexpr int kMaxDepth = 32;
bool parse(std::string_view text, Value* out, std::string* error);

}  // namespace zrn::json
