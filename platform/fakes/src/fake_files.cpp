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

FakeFiles::File& FakeFiles::file_at(const std::string& path) {
    File& f = files_[key_of(path)];
    if (f.name.empty()) {
        const auto pos = path.rfind('\\');
        f.name = pos == std::string::npos ? path : path.substr(pos + 1);
    }
    return f;
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
    if (it == files_.end() || it->second.open || links_.count(key)) return kInvalid;
    return open_locked(key);
}

FakeFiles::Handle FakeFiles::create_new_for_write(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    if (files_.count(key) || dirs_.count(key) || !dirs_.count(parent_of(key))) return kInvalid;
    file_at(path);
    return open_locked(key);
}

platform::FileStatus FakeFiles::open_status(const std::string& key) const {
    auto it = files_.find(key);
    if (it != files_.end()) return it->second.open ? platform::kFileSharingViolation : platform::kFileOk;
    if (dirs_.count(key)) return platform::kFileAccessDenied;
    return dirs_.count(parent_of(key)) ? platform::kFileNotFound : platform::kFilePathNotFound;
}

FakeFiles::Handle FakeFiles::open_existing_read_write(const std::string& path, platform::FileStatus* status) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    const platform::FileStatus st = open_status(key);
    if (status) *status = st;
    if (st != platform::kFileOk) return kInvalid;
    return open_locked(key);
}

FakeFiles::Handle FakeFiles::create_always_read_write(const std::string& path, platform::FileStatus* status) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    platform::FileStatus st = open_status(key);
    if (st == platform::kFileNotFound) st = platform::kFileOk;  // made here
    if (status) *status = st;
    if (st != platform::kFileOk) return kInvalid;
    file_at(path).content.clear();
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

platform::FileStatus FakeFiles::write(Handle h, const void* data, std::size_t size) {
    std::lock_guard lock(mu_);
    auto it = opens_.find(h);
    if (it == opens_.end()) return 6;  // ERROR_INVALID_HANDLE
    // A full disk takes what still fits and refuses the rest.
    const bool fits = space_ < 0 || static_cast<long long>(size) <= space_;
    const std::size_t n = fits ? size : static_cast<std::size_t>(space_);
    if (space_ >= 0) space_ -= static_cast<long long>(n);
    std::string& c = files_[it->second.key].content;
    if (c.size() < it->second.pos + n) c.resize(it->second.pos + n);
    if (n > 0) std::memcpy(c.data() + it->second.pos, data, n);
    it->second.pos += n;
    return fits ? platform::kFileOk : platform::kFileDiskFull;
}

platform::FileStatus FakeFiles::flush(Handle h) {
    std::lock_guard lock(mu_);
    return opens_.count(h) ? platform::kFileOk : 6;
}

platform::FileStatus FakeFiles::replace(const std::string& from, const std::string& to) {
    std::lock_guard lock(mu_);
    const std::string source = key_of(from);
    const std::string target = key_of(to);
    const auto src = files_.find(source);
    if (src == files_.end()) return open_status(source);
    if (src->second.open) return platform::kFileSharingViolation;
    const auto dst = files_.find(target);
    if (dst != files_.end() && dst->second.open) return platform::kFileSharingViolation;
    if (dirs_.count(target)) return platform::kFileAccessDenied;
    if (parent_of(source) != parent_of(target)) return 17;  // ERROR_NOT_SAME_DEVICE: one folder only here
    File moved = std::move(src->second);
    files_.erase(src);
    // The file keeps the name it is listed under; a link in its place is
    // replaced, not followed.
    const auto slash = to.rfind('\\');
    moved.name = dst != files_.end() ? dst->second.name : (slash == std::string::npos ? to : to.substr(slash + 1));
    links_.erase(target);
    files_[target] = std::move(moved);
    return platform::kFileOk;
}

platform::FileStatus FakeFiles::remove(const std::string& path) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    const auto it = files_.find(key);
    if (it == files_.end()) return open_status(key);
    if (it->second.open) return platform::kFileSharingViolation;
    links_.erase(it->first);
    files_.erase(it);
    return platform::kFileOk;
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
    file_at(path).content = content;
}

void FakeFiles::hold(const std::string& path, bool held) {
    std::lock_guard lock(mu_);
    files_[key_of(path)].open = held;
}

bool FakeFiles::list_files(const std::string& folder, std::vector<std::string>* names) {
    std::lock_guard lock(mu_);
    const std::string dir = key_of(folder);
    if (!dirs_.count(dir)) return false;
    names->clear();
    for (const auto& [key, file] : files_)
        if (parent_of(key) == dir) names->push_back(file.name);
    return true;
}

bool FakeFiles::is_reparse_point(const std::string& path) {
    std::lock_guard lock(mu_);
    return links_.count(key_of(path)) != 0;
}

void FakeFiles::make_link(const std::string& path, bool folder) {
    std::lock_guard lock(mu_);
    const std::string key = key_of(path);
    for (std::string d = parent_of(key); !d.empty(); d = parent_of(d)) dirs_.insert(d);
    if (folder) {
        dirs_.insert(key);
    } else {
        file_at(path);
    }
    links_.insert(key);
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
