#include "registry_contract.h"

#include <atomic>
#include <chrono>

namespace zrn::testing {

using namespace zrn::platform;

void delete_tree(Registry& reg, RegKey parent, const std::string& subkey) {
    RegKey k = 0;
    if (reg.open_key(parent, subkey, true, &k) != kRegOk) return;
    std::string child;
    while (reg.enum_key(k, 0, &child) == kRegOk) delete_tree(reg, k, child);
    reg.close_key(k);
    reg.delete_key(parent, subkey);
}

void RegistryContract::SetUp() {
    reg_ = GetParam().make();
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = "SOFTWARE\\ZRNContractTest\\t" + std::to_string(stamp) + "_" + std::to_string(counter++);
    ASSERT_EQ(reg_->create_key(kHklm, path_, "", &scratch_, nullptr), kRegOk);
}

void RegistryContract::TearDown() {
    if (scratch_) reg_->close_key(scratch_);
    delete_tree(*reg_, kHklm, path_);
    RegKey parent = 0;
    if (reg_->open_key(kHklm, "SOFTWARE\\ZRNContractTest", true, &parent) == kRegOk) {
        std::string any;
        const bool empty = reg_->enum_key(parent, 0, &any) != kRegOk;
        reg_->close_key(parent);
        if (empty) reg_->delete_key(kHklm, "SOFTWARE\\ZRNContractTest");
    }
}

TEST_P(RegistryContract, CreateOpenAndCaseInsensitiveNames) {
    Registry& r = *reg_;
    RegKey a = 0;
    bool created = false;
    ASSERT_EQ(r.create_key(scratch(), "Device\\CD347-2", "", &a, &created), kRegOk);
    EXPECT_TRUE(created);
    r.close_key(a);
    ASSERT_EQ(r.create_key(scratch(), "device\\cd347-2", "", &a, &created), kRegOk);
    EXPECT_FALSE(created) << "second create opens the existing key";
    ASSERT_EQ(set_sz(r, a, "DeviceName", "CD347-2"), kRegOk);
    r.close_key(a);

    RegKey b = 0;
    ASSERT_EQ(r.open_key(kHklm, scratch_path() + "\\DEVICE\\Cd347-2", false, &b), kRegOk);
    std::string text = "unchanged";
    EXPECT_EQ(query_text(r, b, "devicename", 1024, &text), kRegOk);
    EXPECT_EQ(text, "CD347-2");
    r.close_key(b);

    RegKey missing = 0;
    EXPECT_EQ(r.open_key(scratch(), "NoSuchKey", false, &missing), kRegNotFound);
    EXPECT_EQ(r.open_key(scratch(), "Device\\NoSuchKey", false, &missing), kRegNotFound);
}

TEST_P(RegistryContract, TypedValuesReadAsText) {
    Registry& r = *reg_;
    ASSERT_EQ(set_sz(r, scratch(), "FirstOC", "91"), kRegOk);
    ASSERT_EQ(set_dword(r, scratch(), "Port", 3), kRegOk);
    ASSERT_EQ(set_dword(r, scratch(), "Negative", 0xFFFFFFFEu), kRegOk);
    RegData bin;
    bin.type = 3;  // REG_BINARY
    bin.bytes = {1, 2, 3};
    ASSERT_EQ(r.set_value(scratch(), "Blob", bin), kRegOk);
    ASSERT_EQ(set_sz(r, scratch(), "", "ZRNOPOSCD.SO"), kRegOk);  // the default value

    RegData d;
    ASSERT_EQ(r.query_value(scratch(), "FirstOC", 1024, &d), kRegOk);
    EXPECT_EQ(d.type, kRegTypeSz);
    EXPECT_EQ(d.bytes.size(), 3u) << "the terminating zero is counted";
    ASSERT_EQ(r.query_value(scratch(), "Port", 1024, &d), kRegOk);
    EXPECT_EQ(d.type, kRegTypeDword);
    EXPECT_EQ(d.bytes, (std::vector<std::uint8_t>{3, 0, 0, 0}));

    std::string t;
    EXPECT_EQ(query_text(r, scratch(), "Negative", 1024, &t), kRegOk);
    EXPECT_EQ(t, "-2");
    EXPECT_EQ(query_text(r, scratch(), "Blob", 1024, &t), kRegOk);
    EXPECT_EQ(t, "?");
    EXPECT_EQ(query_text(r, scratch(), "", 1024, &t), kRegOk);
    EXPECT_EQ(t, "ZRNOPOSCD.SO");

    t = "kept";
    EXPECT_EQ(query_text(r, scratch(), "Missing", 1024, &t), kRegNotFound);
    EXPECT_EQ(t, "kept");

    // Data larger than the buffer fails and leaves the text alone.
    ASSERT_EQ(set_sz(r, scratch(), "Long", std::string(1100, 'L')), kRegOk);
    EXPECT_EQ(query_text(r, scratch(), "Long", 1024, &t), kRegMoreData);
    EXPECT_EQ(t, "kept");
    ASSERT_EQ(set_sz(r, scratch(), "Exact", std::string(1023, 'E')), kRegOk);
    EXPECT_EQ(query_text(r, scratch(), "Exact", 1024, &t), kRegOk);
    EXPECT_EQ(t.size(), 1023u);

    // Overwriting changes type and data in place.
    ASSERT_EQ(set_dword(r, scratch(), "FirstOC", 7), kRegOk);
    EXPECT_EQ(query_text(r, scratch(), "FirstOC", 1024, &t), kRegOk);
    EXPECT_EQ(t, "7");
}

TEST_P(RegistryContract, EnumerationOrderAndEnd) {
    Registry& r = *reg_;
    for (const char* name : {"CD926", "cd615", "CD347-2", "CD347", "CD730"}) {
        RegKey k = 0;
        ASSERT_EQ(r.create_key(scratch(), name, "", &k, nullptr), kRegOk);
        r.close_key(k);
    }
    std::vector<std::string> keys;
    std::string name;
    for (std::uint32_t i = 0; r.enum_key(scratch(), i, &name) == kRegOk; ++i) keys.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"CD347", "CD347-2", "cd615", "CD730", "CD926"}));
    EXPECT_EQ(r.enum_key(scratch(), 5, &name), kRegNoMoreItems);

    ASSERT_EQ(set_sz(r, scratch(), "Drawer1", "CD347"), kRegOk);
    ASSERT_EQ(set_dword(r, scratch(), "Count", 2), kRegOk);
    std::vector<std::string> values;
    RegData d;
    for (std::uint32_t i = 0; r.enum_value(scratch(), i, &name, &d) == kRegOk; ++i) {
        values.push_back(name);
        if (name == "Drawer1") {
            EXPECT_EQ(value_as_text(d.type, d.bytes), "CD347");
        } else if (name == "Count") {
            EXPECT_EQ(value_as_text(d.type, d.bytes), "2");
        }
    }
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::string>{"Count", "Drawer1"}));
    EXPECT_EQ(r.enum_value(scratch(), 2, &name, nullptr), kRegNoMoreItems);
    EXPECT_EQ(r.enum_value(scratch(), 0, &name, nullptr), kRegOk);
}

TEST_P(RegistryContract, DeleteRulesAndReadOnlyHandles) {
    Registry& r = *reg_;
    RegKey k = 0;
    ASSERT_EQ(r.create_key(scratch(), "Parent\\Child", "", &k, nullptr), kRegOk);
    r.close_key(k);
    EXPECT_EQ(r.delete_key(scratch(), "Parent"), kRegAccessDenied) << "a key with sub-keys stays";
    EXPECT_EQ(r.delete_key(scratch(), "Parent\\Child"), kRegOk);
    EXPECT_EQ(r.delete_key(scratch(), "Parent\\Child"), kRegNotFound);
    EXPECT_EQ(r.delete_key(scratch(), "Parent"), kRegOk);
    EXPECT_EQ(r.open_key(scratch(), "Parent", false, &k), kRegNotFound);

    ASSERT_EQ(set_sz(r, scratch(), "Gone", "x"), kRegOk);
    EXPECT_EQ(r.delete_value(scratch(), "GONE"), kRegOk);
    EXPECT_EQ(r.delete_value(scratch(), "Gone"), kRegNotFound);

    RegKey ro = 0;
    ASSERT_EQ(r.open_key(kHklm, scratch_path(), false, &ro), kRegOk);
    EXPECT_EQ(set_sz(r, ro, "Denied", "x"), kRegAccessDenied);
    std::string t;
    EXPECT_EQ(query_text(r, scratch(), "Denied", 1024, &t), kRegNotFound);
    r.close_key(ro);
}

}  // namespace zrn::testing
