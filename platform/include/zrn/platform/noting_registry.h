#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "zrn/platform/registry.h"

namespace zrn::platform {

// Forwards every call to another registry; a class derived from it changes
// what it watches.
class ForwardingRegistry : public Registry {
public:
    explicit ForwardingRegistry(Registry& target) : t_(target) {}
    RegStatus open_key(RegKey p, std::string_view s, bool w, RegKey* out) override { return t_.open_key(p, s, w, out); }
    RegStatus create_key(RegKey p, std::string_view s, std::string_view c, RegKey* out, bool* made) override {
        return t_.create_key(p, s, c, out, made);
    }
    void close_key(RegKey k) override { t_.close_key(k); }
    RegStatus enum_key(RegKey k, std::uint32_t i, std::string* n) override { return t_.enum_key(k, i, n); }
    RegStatus enum_value(RegKey k, std::uint32_t i, std::string* n, RegData* d) override {
        return t_.enum_value(k, i, n, d);
    }
    RegStatus query_value(RegKey k, std::string_view n, std::size_t cap, RegData* d) override {
        return t_.query_value(k, n, cap, d);
    }
    RegStatus set_value(RegKey k, std::string_view n, const RegData& d) override { return t_.set_value(k, n, d); }
    RegStatus delete_value(RegKey k, std::string_view n) override { return t_.delete_value(k, n); }
    RegStatus delete_key(RegKey p, std::string_view s) override { return t_.delete_key(p, s); }
    std::string error_text(RegStatus st) const override { return t_.error_text(st); }

private:
    Registry& t_;
};

// Keeps the code of the last opening or writing call that failed, for a
// message that names why a change did not go through (reading a value that
// is not there is no failure of a change, so queries and enumerations are
// not kept).
class NotingRegistry final : public ForwardingRegistry {
public:
    using ForwardingRegistry::ForwardingRegistry;
    RegStatus open_key(RegKey p, std::string_view s, bool w, RegKey* out) override {
        return noted(ForwardingRegistry::open_key(p, s, w, out), "RegOpenKeyExA", s);
    }
    RegStatus create_key(RegKey p, std::string_view s, std::string_view c, RegKey* out, bool* made) override {
        return noted(ForwardingRegistry::create_key(p, s, c, out, made), "RegCreateKeyExA", s);
    }
    RegStatus set_value(RegKey k, std::string_view n, const RegData& d) override {
        return noted(ForwardingRegistry::set_value(k, n, d), "RegSetValueExA", n);
    }
    RegStatus delete_value(RegKey k, std::string_view n) override {
        return noted(ForwardingRegistry::delete_value(k, n), "RegDeleteValueA", n);
    }
    RegStatus delete_key(RegKey p, std::string_view s) override { return noted(ForwardingRegistry::delete_key(p, s), "RegDeleteKeyExA", s);
    }

    // kRegOk when no call failed since the last clear.
    RegStatus last_failure() const { return last_; }
    // The Windows call that failed last and what it was on, as
    // RegOpenKeyExA "SOFTWARE\...\CD926"; empty when none did.
    const std::string& last_call() const { return call_; }
    void clear_failure() {
        last_ = kRegOk;
        call_.clear();
    }

private:
    RegStatus noted(RegStatus st, const char* call, std::string_view subject) {
        if (st != kRegOk) {
            last_ = st;
            call_ = std::string(call) + " \"" + std::string(subject) + "\"";
        }
        return st;
    }
    RegStatus last_ = kRegOk;
    std::string call_;
};

// Calls a hook after every write that went through: a test ends the
// program there, as a kill or a power cut would.
class AfterWriteRegistry final : public ForwardingRegistry {
public:
    AfterWriteRegistry(Registry& target, std::function<void()> hook)
        : ForwardingRegistry(target), hook_(std::move(hook)) {}
    RegStatus create_key(RegKey p, std::string_view s, std::string_view c, RegKey* out, bool* made) override {
        return after(ForwardingRegistry::create_key(p, s, c, out, made));
    }
    RegStatus set_value(RegKey k, std::string_view n, const RegData& d) override {
        return after(ForwardingRegistry::set_value(k, n, d));
    }
    RegStatus delete_value(RegKey k, std::string_view n) override {
        return after(ForwardingRegistry::delete_value(k, n));
    }
    RegStatus delete_key(RegKey p, std::string_view s) override { return after(ForwardingRegistry::delete_key(p, s)); }

private:
    RegStatus after(RegStatus st) {
        if (st == kRegOk && hook_) hook_();
        return st;
    }
    std::function<void()> hook_;
};

}  // namespace zrn::platform
