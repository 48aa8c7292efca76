#include "zrn/fakes/fake_registry.h"

#include <algorithm>
#include <cctype>

namespace zrn::fakes {

using platform::kRegAccessDenied;
using platform::kRegInvalidHandle;
using platform::kRegKeyDeleted;
using platform::kRegMoreData;
using platform::kRegNoMoreItems;
using platform::kRegNotFound;
using platform::kRegOk;
using platform::RegData;
using platform::RegKey;
using platform::RegStatus;

namespace {

std::string upper(std::string_view s) {
    std::string u;
    u.reserve(s.size());
    for (char c : s) u.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return u;
}

std::vector<std::string> split_path(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!part.empty()) parts.emplace_back(part);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace

struct FakeRegistry::Node {
    std::string name;
    std::string class_text;
    // Keyed by the upper-case name: Windows looks names up and orders
    // sub-keys without regard to case.
    std::map<std::string, std::shared_ptr<Node>> children;
    std::vector<std::pair<std::string, RegData>> values;  // creation order
    bool deleted = false;

    std::vector<std::pair<std::string, RegData>>::iterator find_value(std::string_view name) {
        const std::string u = upper(name);
        return std::find_if(values.begin(), values.end(), [&](const auto& v) { return upper(v.first) == u; });
    }
};

FakeRegistry::FakeRegistry() : root_(std::make_shared<Node>()) {}
FakeRegistry::~FakeRegistry() = default;

std::shared_ptr<FakeRegistry::Node> FakeRegistry::resolve(RegKey key, bool* writable, RegStatus* st) const {
    if (key == platform::kHklm) {
        if (writable) *writable = true;
        *st = kRegOk;
        return root_;
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) {
        *st = kRegInvalidHandle;
        return nullptr;
    }
    if (it->second.node->deleted) {
        *st = kRegKeyDeleted;
        return nullptr;
    }
    if (writable) *writable = it->second.writable;
    *st = kRegOk;
    return it->second.node;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::resolve_writable(RegKey key, RegStatus* st) const {
    bool writable = false;
    auto node = resolve(key, &writable, st);
    if (node && !writable) {
        *st = kRegAccessDenied;
        return nullptr;
    }
    return node;
}

RegKey FakeRegistry::add_handle(std::shared_ptr<Node> node, bool writable) {
    const RegKey k = next_;
    next_ += 4;
    handles_[k] = Handle{std::move(node), writable};
    return k;
}

RegStatus FakeRegistry::open_key(RegKey parent, std::string_view subkey, bool writable, RegKey* out) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(parent, nullptr, &st);
    if (!node) return st;
    for (const auto& part : split_path(subkey)) {
        auto it = node->children.find(upper(part));
        if (it == node->children.end()) return kRegNotFound;
        node = it->second;
    }
    *out = add_handle(node, writable);
    return kRegOk;
}

RegStatus FakeRegistry::create_key(RegKey parent, std::string_view subkey, std::string_view class_text, RegKey* out,
                                   bool* created) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(parent, nullptr, &st);
    if (!node) return st;
    bool made = false;
    for (const auto& part : split_path(subkey)) {
        auto& slot = node->children[upper(part)];
        made = !slot;
        if (made) {
            slot = std::make_shared<Node>();
            slot->name = part;
            slot->class_text = std::string(class_text);
        }
        node = slot;
    }
    if (created) *created = made;
    *out = add_handle(node, true);
    return kRegOk;
}

void FakeRegistry::close_key(RegKey key) {
    std::lock_guard lock(mu_);
    handles_.erase(key);
}

RegStatus FakeRegistry::enum_key(RegKey key, std::uint32_t index, std::string* name) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(key, nullptr, &st);
    if (!node) return st;
    if (index >= node->children.size()) return kRegNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    *name = it->second->name;
    return kRegOk;
}

RegStatus FakeRegistry::enum_value(RegKey key, std::uint32_t index, std::string* name, RegData* data) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(key, nullptr, &st);
    if (!node) return st;
    if (index >= node->values.size()) return kRegNoMoreItems;
    *name = node->values[index].first;
    if (data) *data = node->values[index].second;
    return kRegOk;
}

RegStatus FakeRegistry::query_value(RegKey key, std::string_view name, std::size_t capacity, RegData* data) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(key, nullptr, &st);
    if (!node) return st;
    auto it = node->find_value(name);
    if (it == node->values.end()) return kRegNotFound;
    if (it->second.bytes.size() > capacity) return kRegMoreData;
    *data = it->second;
    return kRegOk;
}

RegStatus FakeRegistry::set_value(RegKey key, std::string_view name, const RegData& data) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve_writable(key, &st);
    if (!node) return st;
    auto it = node->find_value(name);
    if (it != node->values.end())
        it->second = data;
    else
        node->values.emplace_back(std::string(name), data);
    return kRegOk;
}

RegStatus FakeRegistry::delete_value(RegKey key, std::string_view name) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve_writable(key, &st);
    if (!node) return st;
    auto it = node->find_value(name);
    if (it == node->values.end()) return kRegNotFound;
    node->values.erase(it);
    return kRegOk;
}

RegStatus FakeRegistry::delete_key(RegKey parent, std::string_view subkey) {
    std::lock_guard lock(mu_);
    RegStatus st;
    auto node = resolve(parent, nullptr, &st);
    if (!node) return st;
    const auto parts = split_path(subkey);
    if (parts.empty()) return platform::kRegInvalidParameter;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = node->children.find(upper(parts[i]));
        if (it == node->children.end()) return kRegNotFound;
        node = it->second;
    }
    auto it = node->children.find(upper(parts.back()));
    if (it == node->children.end()) return kRegNotFound;
    if (!it->second->children.empty()) return kRegAccessDenied;
    it->second->deleted = true;
    node->children.erase(it);
    return kRegOk;
}

int FakeRegistry::open_handles() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(handles_.size());
}

}  // namespace zrn::fakes
