#pragma once

#include "zrn/fakes/fake_registry.h"

namespace zrn::fakes {

// A FakeRegistry whose writes can be made to fail, for the paths that must
// cope with a registry that refuses a change half-way.
class FaultyRegistry final : public platform::Registry {
public:
    bool fail_create = false;
    bool fail_set = false;
    bool fail_delete_value = false;
    // Writes (set, delete value, delete key) that still succeed before every
    // further one fails; negative: no limit.
    int writes_left = -1;
    // The one write, counted from 0 when set, that fails while the others
    // succeed; negative: none.
    int fail_nth_write = -1;

    platform::RegStatus open_key(platform::RegKey p, std::string_view s, bool w, platform::RegKey* out) override {
        return f.open_key(p, s, w, out);
    }
    platform::RegStatus create_key(platform::RegKey p, std::string_view s, std::string_view c, platform::RegKey* out,
                                   bool* made) override {
        return fail_create ? platform::kRegAccessDenied : f.create_key(p, s, c, out, made);
    }
    void close_key(platform::RegKey k) override { f.close_key(k); }
    platform::RegStatus enum_key(platform::RegKey k, std::uint32_t i, std::string* n) override {
        return f.enum_key(k, i, n);
    }
    platform::RegStatus enum_value(platform::RegKey k, std::uint32_t i, std::string* n,
                                   platform::RegData* d) override {
        return f.enum_value(k, i, n, d);
    }
    platform::RegStatus query_value(platform::RegKey k, std::string_view n, std::size_t cap,
                                    platform::RegData* d) override {
        return f.query_value(k, n, cap, d);
    }
    platform::RegStatus set_value(platform::RegKey k, std::string_view n, const platform::RegData& d) override {
        return fail_set || !write_allowed() ? platform::kRegAccessDenied : f.set_value(k, n, d);
    }
    platform::RegStatus delete_value(platform::RegKey k, std::string_view n) override {
        return fail_delete_value || !write_allowed() ? platform::kRegAccessDenied : f.delete_value(k, n);
    }
    platform::RegStatus delete_key(platform::RegKey p, std::string_view s) override {
        return !write_allowed() ? platform::kRegAccessDenied : f.delete_key(p, s);
    }

    FakeRegistry f;

private:
    bool write_allowed() {
        if (fail_nth_write >= 0 && fail_nth_write-- == 0) return false;
        if (writes_left < 0) return true;
        if (writes_left == 0) return false;
        --writes_left;
        return true;
    }
};

}  // namespace zrn::fakes
