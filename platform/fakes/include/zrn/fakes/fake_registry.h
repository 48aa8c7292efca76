#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zrn/platform/registry.h"

namespace zrn::fakes {

// In-memory HKLM with Windows semantics (see platform::Registry).
class FakeRegistry final : public platform::Registry {
public:
    FakeRegistry();
    ~FakeRegistry() override;

    platform::RegStatus open_key(platform::RegKey parent, std::string_view subkey, bool writable,
                                 platform::RegKey* out) override;
    platform::RegStatus create_key(platform::RegKey parent, std::string_view subkey, std::string_view class_text,
                                   platform::RegKey* out, bool* created) override;
    void close_key(platform::RegKey key) override;
    platform::RegStatus enum_key(platform::RegKey key, std::uint32_t index, std::string* name) override;
    platform::RegStatus enum_value(platform::RegKey key, std::uint32_t index, std::string* name,
                                   platform::RegData* data) override;
    platform::RegStatus query_value(platform::RegKey key, std::string_view name, std::size_t capacity,
                                    platform::RegData* data) override;
    platform::RegStatus set_value(platform::RegKey key, std::string_view name, const platform::RegData& data) override;
    platform::RegStatus delete_value(platform::RegKey key, std::string_view name) override;
    platform::RegStatus delete_key(platform::RegKey parent, std::string_view subkey) override;

    // Keys currently open through this registry (for leak checks).
    int open_handles() const;

private:
    struct Node;
    struct Handle {
        std::shared_ptr<Node> node;
        bool writable;
    };
    std::shared_ptr<Node> resolve(platform::RegKey key, bool* writable, platform::RegStatus* st) const;
    // The node of a key opened for writing; null with kRegAccessDenied for a
    // read-only handle.
    std::shared_ptr<Node> resolve_writable(platform::RegKey key, platform::RegStatus* st) const;
    platform::RegKey add_handle(std::shared_ptr<Node> node, bool writable);

    mutable std::mutex mu_;
    std::shared_ptr<Node> root_;
    std::map<platform::RegKey, Handle> handles_;
    platform::RegKey next_ = 0x1000;
};

}  // namespace zrn::fakes
