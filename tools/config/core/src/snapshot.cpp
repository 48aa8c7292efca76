#include "zrn/cfg/snapshot.h"

#include <algorithm>

#include "zrn/text.h"

namespace zrn::cfg {

using platform::kRegNoMoreItems;
using platform::kRegNotFound;
using platform::kRegOk;
using platform::RegKey;
using platform::Registry;
using platform::ScopedKey;

namespace {

// Deep enough for any configuration key; a deeper tree is refused rather
// than followed without end.
constexpr int kMaxDepth = 8;

bool capture_key(Registry& reg, RegKey key, int depth, std::vector<std::pair<std::string, platform::RegData>>* values,
                 std::vector<std::string>* subkeys) {
    if (depth > kMaxDepth) return false;
    std::string name;
    platform::RegData data;
    platform::RegStatus st = kRegOk;
    std::uint32_t i = 0;
    for (; (st = reg.enum_value(key, i, &name, &data)) == kRegOk; ++i) values->emplace_back(name, data);
    if (st != kRegNoMoreItems) return false;
    for (i = 0; (st = reg.enum_key(key, i, &name)) == kRegOk; ++i) subkeys->push_back(name);
    return st == kRegNoMoreItems;
}

}  // namespace

bool delete_tree(Registry& reg, RegKey parent, std::string_view name) {
    {
        ScopedKey key(reg);
        const platform::RegStatus st = reg.open_key(parent, name, true, key.out());
        if (st == kRegNotFound) return true;
        if (st != kRegOk) return false;
        std::vector<std::string> children;
        std::string child;
        for (std::uint32_t i = 0; reg.enum_key(key.get(), i, &child) == kRegOk; ++i) children.push_back(child);
        for (const std::string& c : children)
            if (!delete_tree(reg, key.get(), c)) return false;
    }
    const platform::RegStatus st = reg.delete_key(parent, name);
    return st == kRegOk || st == kRegNotFound;
}

bool Snapshot::capture(Registry& reg, std::string_view path) {
    Root root;
    root.path = std::string(path);
    ScopedKey key(reg);
    const platform::RegStatus st = reg.open_key(platform::kHklm, path, false, key.out());
    if (st == kRegNotFound) {
        roots_.push_back(std::move(root));
        return true;
    }
    if (st != kRegOk) return false;
    root.existed = true;
    // An explicit stack of keys still to read, so the depth limit is checked
    // in one place. Each key's children are sized before their work items
    // point into them, and never resized again.
    struct Work {
        RegKey key;
        Key* into;
        int depth;
    };
    std::vector<Work> work{{key.get(), &root.key, 0}};
    std::vector<RegKey> opened;
    bool ok = true;
    while (ok && !work.empty()) {
        const Work w = work.back();
        work.pop_back();
        std::vector<std::string> names;
        ok = capture_key(reg, w.key, w.depth, &w.into->values, &names);
        if (!ok) break;
        w.into->subkeys.resize(names.size());
        for (std::size_t i = 0; i < names.size() && ok; ++i) {
            w.into->subkeys[i].name = names[i];
            RegKey child = 0;
            ok = reg.open_key(w.key, names[i], false, &child) == kRegOk;
            if (ok) {
                opened.push_back(child);
                work.push_back({child, &w.into->subkeys[i], w.depth + 1});
            }
        }
    }
    for (const RegKey k : opened) reg.close_key(k);
    if (!ok) return false;
    roots_.push_back(std::move(root));
    return true;
}

namespace {

bool restore_key(Registry& reg, RegKey key, const auto& recorded, int depth) {
    bool ok = true;
    // Values and sub-keys made since go first.
    std::vector<std::string> now_values, now_keys;
    std::string name;
    for (std::uint32_t i = 0; reg.enum_value(key, i, &name, nullptr) == kRegOk; ++i) now_values.push_back(name);
    for (std::uint32_t i = 0; reg.enum_key(key, i, &name) == kRegOk; ++i) now_keys.push_back(name);
    // Values enumerate in the order they were made, and that order means
    // something (the first logical name of a device is the one removed
    // first): unless the survivors still stand in their recorded order, all
    // go and are made again in it.
    std::vector<std::string> kept_in_order;
    for (const std::string& v : now_values)
        if (std::any_of(recorded.values.begin(), recorded.values.end(),
                        [&](const auto& r) { return equal_ignoring_case(r.first, v); }))
            kept_in_order.push_back(v);
    bool in_order = kept_in_order.size() <= recorded.values.size();
    for (std::size_t i = 0; in_order && i < kept_in_order.size(); ++i)
        in_order = equal_ignoring_case(kept_in_order[i], recorded.values[i].first);
    for (const std::string& v : now_values) {
        const bool kept = std::find(kept_in_order.begin(), kept_in_order.end(), v) != kept_in_order.end();
        if (!kept || !in_order) ok &= reg.delete_value(key, v) == kRegOk;
    }
    for (const std::string& k : now_keys) {
        const bool kept = std::any_of(recorded.subkeys.begin(), recorded.subkeys.end(),
                                      [&](const auto& r) { return equal_ignoring_case(r.name, k); });
        if (!kept) ok &= delete_tree(reg, key, k);
    }
    for (const auto& [value_name, data] : recorded.values) ok &= reg.set_value(key, value_name, data) == kRegOk;
    if (depth >= kMaxDepth) return ok;
    for (const auto& sub : recorded.subkeys) {
        ScopedKey child(reg);
        if (reg.create_key(key, sub.name, "", child.out(), nullptr) != kRegOk) {
            ok = false;
            continue;
        }
        ok &= restore_key(reg, child.get(), sub, depth + 1);
    }
    return ok;
}

}  // namespace

bool Snapshot::restore(Registry& reg) const {
    bool ok = true;
    for (const Root& root : roots_) {
        if (!root.existed) {
            ok &= delete_tree(reg, platform::kHklm, root.path);
            continue;
        }
        ScopedKey key(reg);
        if (reg.create_key(platform::kHklm, root.path, "", key.out(), nullptr) != kRegOk) {
            ok = false;
            continue;
        }
        ok &= restore_key(reg, key.get(), root.key, 0);
    }
    return ok;
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

bool bytes_of(const std::string& hex, std::vector<std::uint8_t>* out) {
    if (hex.size() % 2 != 0) return false;
    out->clear();
    const auto digit = [](char c) {
        const char* p = std::char_traits<char>::find(kHex, 16, c);
        return p ? static_cast<int>(p - kHex) : -1;
    };
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]);
        const int lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}

template <class Key>
json::Value key_json(const Key& key) {
    json::Value values = json::Value::array();
    for (const auto& [name, data] : key.values) {
        json::Value v = json::Value::object();
        v.set("name", name);
        v.set("type", static_cast<std::int64_t>(data.type));
        v.set("data", hex_of(data.bytes));
        values.push(std::move(v));
    }
    json::Value subkeys = json::Value::array();
    for (const auto& sub : key.subkeys) {
        json::Value k = key_json(sub);
        k.set("name", sub.name);
        subkeys.push(std::move(k));
    }
    json::Value out = json::Value::object();
    out.set("values", std::move(values));
    out.set("keys", std::move(subkeys));
    return out;
}

template <class Key>
bool key_from_json(const json::Value& v, const std::string& place, int depth, Key* key, std::string* error) {
    const json::Value* values = v.is_object() ? v.find("values") : nullptr;
    const json::Value* subkeys = v.is_object() ? v.find("keys") : nullptr;
    if (!values || !values->is_array() || !subkeys || !subkeys->is_array() || depth > kMaxDepth) {
        *error = place + ": no recorded key";
        return false;
    }
    for (std::size_t i = 0; i < values->items().size(); ++i) {
        const json::Value& item = values->items()[i];
        const json::Value* name = item.is_object() ? item.find("name") : nullptr;
        const json::Value* type = item.is_object() ? item.find("type") : nullptr;
        const json::Value* data = item.is_object() ? item.find("data") : nullptr;
        platform::RegData d;
        if (!name || !name->is_string() || !type || !type->is_number() || type->as_number() < 0 ||
            type->as_number() > 0xFFFFFFFF || !data || !data->is_string() || !bytes_of(data->as_string(), &d.bytes)) {
            *error = place + ".values[" + std::to_string(i) + "]: no recorded value";
            return false;
        }
        d.type = static_cast<std::uint32_t>(type->as_number());
        key->values.emplace_back(name->as_string(), std::move(d));
    }
    key->subkeys.resize(subkeys->items().size());
    for (std::size_t i = 0; i < subkeys->items().size(); ++i) {
        const json::Value& item = subkeys->items()[i];
        const json::Value* name = item.is_object() ? item.find("name") : nullptr;
        const std::string at = place + ".keys[" + std::to_string(i) + "]";
        if (!name || !name->is_string() || name->as_string().empty()) {
            *error = at + ": a key without a name";
            return false;
        }
        key->subkeys[i].name = name->as_string();
        if (!key_from_json(item, at, depth + 1, &key->subkeys[i], error)) return false;
    }
    return true;
}

}  // namespace

json::Value Snapshot::to_json() const {
    json::Value roots = json::Value::array();
    for (const Root& root : roots_) {
        json::Value r = root.existed ? key_json(root.key) : json::Value::object();
        r.set("path", root.path);
        r.set("exists", root.existed);
        roots.push(std::move(r));
    }
    return roots;
}

bool Snapshot::from_json(const json::Value& keys, std::string* error) {
    roots_.clear();
    std::vector<Root> roots;
    if (!keys.is_array()) {
        *error = "keys: not a list of recorded keys";
        return false;
    }
    for (std::size_t i = 0; i < keys.items().size(); ++i) {
        const json::Value& item = keys.items()[i];
        const std::string place = "keys[" + std::to_string(i) + "]";
        const json::Value* path = item.is_object() ? item.find("path") : nullptr;
        const json::Value* exists = item.is_object() ? item.find("exists") : nullptr;
        if (!path || !path->is_string() || path->as_string().empty() || !exists || !exists->is_bool()) {
            *error = place + ": no recorded key";
            return false;
        }
        Root root;
        root.path = path->as_string();
        root.existed = exists->as_bool();
        if (root.existed && !key_from_json(item, place, 0, &root.key, error)) return false;
        roots.push_back(std::move(root));
    }
    roots_ = std::move(roots);
    return true;
}

}  // namespace zrn::cfg
