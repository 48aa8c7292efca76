#include "zrn/fakes/fake_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zrn::fakes {

std::string FakeFiles::key_of(const std::string& path) {
    std::string k;
    for (char c : path) k.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    while (k.size() > 2 && k.back() == '\\') k.pop_back();
    return k;
}

std::string FakeFiles::parent_of(const std::string& key) {
    const auto pos = key.rfind('\\');
    return pos == std::string::npos ? std::string() : key.substr(0, pos);
}

FakeFiles::Handle FakeFiles::open_locked(const std::string& key) {
    files_[key].open = true;
    const Handle h = next_++;
    opens_[h] = Open{key, 0};
    return h;
}

FakeFiles::Handle FakeFiles::open_existing_for_write(const std::string& path, bool* held) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    auto it = files_.find(key);
    if (held) *held = it != files_.end() && it->second.open;
    if (it == files_.end() || it->second.open) return kInvalid;
    return open_locked(key);
}

FakeFiles::Handle FakeFiles::create_new_for_write(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    if (files_.count(key) || dirs_.count(key) || !dirs_.count(parent_of(key))) return kInvalid;
    return open_locked(key);
}

FakeFiles::Handle FakeFiles::open_existing_read_write(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    auto it = files_.find(key);
    if (it == files_.end() || it->second.open) return kInvalid;
    return open_locked(key);
}

FakeFiles::Handle FakeFiles::create_always_read_write(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    auto it = files_.find(key);
    if (it != files_.end() && it->second.open) return kInvalid;
    if (dirs_.count(key) || !dirs_.count(parent_of(key))) return kInvalid;
    files_[key].content.clear();
    return open_locked(key);
}

bool FakeFiles::create_directory(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    if (deny_dirs_ || dirs_.count(key) || files_.count(key) || !dirs_.count(parent_of(key))) return false;
    dirs_.insert(key);
    return true;
}

void FakeFiles::seek_end(Handle h) {
    std::lock_guard lock(mu_);
    auto it = opens_.find(h);
    if (it != opens_.end()) it->second.pos = files_[it->second.key].content.size();
}

bool FakeFiles::read(Handle h, void* data, std::size_t max, std::size_t* got) {
    std::lock_guard lock(mu_);
    *got = 0;
    auto it = opens_.find(h);
    if (it == opens_.end()) return false;
    const std::string& c = files_[it->second.key].content;
    if (it->second.pos < c.size()) {
        *got = std::min(max, c.size() - it->second.pos);
        std::memcpy(data, c.data() + it->second.pos, *got);
        it->second.pos += *got;
    }
    return true;
}

void FakeFiles::write(Handle h, const void* data, std::size_t size) {
    std::lock_guard lock(mu_);
    auto it = opens_.find(h);
    if (it == opens_.end()) return;
    std::string& c = files_[it->second.key].content;
    if (c.size() < it->second.pos + size) c.resize(it->second.pos + size);
    std::memcpy(c.data() + it->second.pos, data, size);
    it->second.pos += size;
}

void FakeFiles::close(Handle h) {
    std::lock_guard lock(mu_);
    auto it = opens_.find(h);
    if (it == opens_.end()) return;
    files_[it->second.key].open = false;
    opens_.erase(it);
}

bool FakeFiles::exists(const std::string& path) const {
    std::lock_guard lock(mu_);
    return files_.count(key_of(path)) != 0;
}

bool FakeFiles::dir_exists(const std::string& path) const {
    std::lock_guard lock(mu_);
    return dirs_.count(key_of(path)) != 0;
}

std::string FakeFiles::content(const std::string& path) const {
    std::lock_guard lock(mu_);
    auto it = files_.find(key_of(path));
    return it == files_.end() ? std::string() : it->second.content;
}

void FakeFiles::put(const std::string& path, const std::string& content) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    for (std::string d = parent_of(key); !d.empty(); d = parent_of(d)) dirs_.insert(d);
    files_[key].content = content;
}

void FakeFiles::hold(const std::string& path, bool held) {
    std::lock_guard lock(mu_);
    files_[key_of(path)].open = held;
}

int FakeFiles::open_handles() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(opens_.size());
}

std::size_t FakeFiles::file_count() const {
    std::lock_guard lock(mu_);
    return files_.size();
}

}  // namespace zrn::fakes
