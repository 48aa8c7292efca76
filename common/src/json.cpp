#include "zrn/json.h"

#include <cstdio>
#include <limits>
#include <unordered_set>

namespace zrn::json {

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // ANSI bytes outside ASCII are not valid UTF-8 on their own.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(ch);
                }
        }
    }
    return out;
}

std::string quote(std::string_view text) { return "\"" + escape(text) + "\""; }

const Value* Value::find(std::string_view name) const {
    for (const auto& [n, v] : members_)
        if (n == name) return &v;
    return nullptr;
}

Value& Value::set(std::string_view name, Value v) {
    for (auto& [n, old] : members_)
        if (n == name) return old = std::move(v);
    members_.emplace_back(std::string(name), std::move(v));
    return members_.back().second;
}

Value& Value::add_new_member(std::string name, Value v) {
    members_.emplace_back(std::move(name), std::move(v));
    return members_.back().second;
}

Value& Value::push(Value v) {
    items_.push_back(std::move(v));
    return items_.back();
}

bool operator==(const Value& a, const Value& b) {
    if (a.type_ != b.type_) return false;
    switch (a.type_) {
        case Value::Type::Null: return true;
        case Value::Type::Bool: return a.bool_ == b.bool_;
        case Value::Type::Number: return a.number_ == b.number_;
        case Value::Type::String: return a.string_ == b.string_;
        case Value::Type::Array: return a.items_ == b.items_;
        case Value::Type::Object: return a.members_ == b.members_;
    }
    return false;
}

namespace {

void dump_to(const Value& v, bool pretty, int level, std::string* out) {
    const auto newline = [&](int l) {
        if (!pretty) return;
        out->push_back('\n');
        out->append(static_cast<std::size_t>(l) * 2, ' ');
    };
    switch (v.type()) {
        case Value::Type::Null: *out += "null"; break;
        case Value::Type::Bool: *out += v.as_bool() ? "true" : "false"; break;
        case Value::Type::Number: *out += std::to_string(v.as_number()); break;
        case Value::Type::String: *out += quote(v.as_string()); break;
        case Value::Type::Array:
            if (v.items().empty()) {
                *out += "[]";
                break;
            }
            out->push_back('[');
            for (std::size_t i = 0; i < v.items().size(); ++i) {
                if (i > 0) out->push_back(',');
                newline(level + 1);
                dump_to(v.items()[i], pretty, level + 1, out);
            }
            newline(level);
            out->push_back(']');
            break;
        case Value::Type::Object:
            if (v.members().empty()) {
                *out += "{}";
                break;
            }
            out->push_back('{');
            for (std::size_t i = 0; i < v.members().size(); ++i) {
                if (i > 0) out->push_back(',');
                newline(level + 1);
                *out += quote(v.members()[i].first);
                *out += pretty ? ": " : ":";
                dump_to(v.members()[i].second, pretty, level + 1, out);
            }
            newline(level);
            out->push_back('}');
            break;
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool document(Value* out) {
        skip_space();
        if (!value(out, 0)) return false;
        skip_space();
        if (pos_ != s_.size()) return fail("text after the end of the JSON value");
        return true;
    }

    std::string error() const {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < error_pos_ && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message_;
    }

private:
    bool fail(std::string message) {
        if (message_.empty()) {
            message_ = std::move(message);
            error_pos_ = pos_;
        }
        return false;
    }

    void skip_space() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return fail("unknown word");
        pos_ += word.size();
        return true;
    }

    bool value(Value* out, int depth) {
        if (pos_ >= s_.size()) return fail("a value is missing");
        const char c = s_[pos_];
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) return fail("nested too deeply");
            return c == '{' ? object(out, depth + 1) : array(out, depth + 1);
        }
        if (c == '"') {
            std::string text;
            if (!string(&text)) return false;
            *out = Value(std::move(text));
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) return number(out);
        if (c == 't') return literal("true") && (*out = Value(true), true);
        if (c == 'f') return literal("false") && (*out = Value(false), true);
        if (c == 'n') return literal("null") && (*out = Value(), true);
        return fail("unexpected character");
    }

    bool number(Value* out) {
        const bool negative = s_[pos_] == '-';
        if (negative) ++pos_;
        if (pos_ >= s_.size() || s_[pos_] < '0' || s_[pos_] > '9') return fail("a digit is missing");
        if (s_[pos_] == '0' && pos_ + 1 < s_.size() && s_[pos_ + 1] >= '0' && s_[pos_ + 1] <= '9')
            return fail("a number may not start with 0");
        // Accumulated negatively, so the most negative 64-bit number fits.
        std::int64_t v = 0;
        constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            const int d = s_[pos_] - '0';
            if (v < (kMin + d) / 10) return fail("number out of range");
            v = v * 10 - d;
            ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == '.' || s_[pos_] == 'e' || s_[pos_] == 'E'))
            return fail("only whole numbers are allowed");
        if (!negative) {
            if (v == kMin) return fail("number out of range");
            v = -v;
        }
        *out = Value(v);
        return true;
    }

    static int hex_digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool string(std::string* out) {
        ++pos_;  // the opening quote
        while (true) {
            if (pos_ >= s_.size()) return fail("a string is not closed");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return fail("a control character inside a string");
            if (c == '\\') {
                if (!escape_sequence(out)) return false;
                continue;
            }
            if (c < 0x80) {
                out->push_back(static_cast<char>(c));
                ++pos_;
                continue;
            }
            // UTF-8 of U+0080 to U+00FF is two bytes, C2 or C3 and a follower.
            if ((c == 0xC2 || c == 0xC3) && pos_ + 1 < s_.size() &&
                (static_cast<unsigned char>(s_[pos_ + 1]) & 0xC0) == 0x80) {
                out->push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s_[pos_ + 1]) & 0x3F)));
                pos_ += 2;
                continue;
            }
            return fail("a character above U+00FF, or bytes that are not UTF-8");
        }
    }

    bool escape_sequence(std::string* out) {
        if (pos_ + 1 >= s_.size()) return fail("a string is not closed");
        const char e = s_[pos_ + 1];
        pos_ += 2;
        switch (e) {
            case '"': out->push_back('"'); return true;
            case '\\': out->push_back('\\'); return true;
            case '/': out->push_back('/'); return true;
            case 'b': out->push_back('\b'); return true;
            case 'f': out->push_back('\f'); return true;
            case 'n': out->push_back('\n'); return true;
            case 'r': out->push_back('\r'); return true;
            case 't': out->push_back('\t'); return true;
            case 'u': {
                if (pos_ + 4 > s_.size()) return fail("\\u needs four hex digits");
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = hex_digit(s_[pos_ + static_cast<std::size_t>(i)]);
                    if (d < 0) return fail("\\u needs four hex digits");
                    code = code * 16 + d;
                }
                if (code > 0xFF) return fail("a character above U+00FF");
                pos_ += 4;
                out->push_back(static_cast<char>(code));
                return true;
            }
            default: pos_ -= 1; return fail("unknown escape");
        }
    }

    bool array(Value* out, int depth) {
        ++pos_;
        *out = Value::array();
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        while (true) {
            skip_space();
            Value item;
            if (!value(&item, depth)) return false;
            out->push(std::move(item));
            skip_space();
            if (pos_ >= s_.size()) return fail("an array is not closed");
            if (s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            if (s_[pos_] != ',') return fail("',' or ']' expected");
            ++pos_;
        }
    }

    bool object(Value* out, int depth) {
        ++pos_;
        *out = Value::object();
        // Names seen so far, so a large object is checked for a name given
        // twice in one pass rather than member by member.
        std::unordered_set<std::string> names;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        while (true) {
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != '"') return fail("a member name in quotes expected");
            const std::size_t name_pos = pos_;
            std::string name;
            if (!string(&name)) return false;
            if (!names.insert(name).second) {
                pos_ = name_pos;
                return fail("member \"" + escape(name) + "\" given twice");
            }
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != ':') return fail("':' expected");
            ++pos_;
            skip_space();
            Value member;
            if (!value(&member, depth)) return false;
            out->add_new_member(std::move(name), std::move(member));
            skip_space();
            if (pos_ >= s_.size()) return fail("an object is not closed");
            if (s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            if (s_[pos_] != ',') return fail("',' or '}' expected");
            ++pos_;
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string message_;
    std::size_t error_pos_ = 0;
};

}  // namespace

std::string dump(const Value& v, bool pretty) {
    std::string out;
    dump_to(v, pretty, 0, &out);
    return out;
}

bool parse(std::string_view text, Value* out, std::string* error) {
    Parser p(text);
    Value v;
    if (!p.document(&v)) {
        if (error) *error = p.error();
        return false;
    }
    *out = std::move(v);
    return true;
}

}  // namespace zrn::json
