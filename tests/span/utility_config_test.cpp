// The utility and zrncd config on one registry: what the two programs must
// agree on when they change the configuration at the same time.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "config_fixture.h"
#include "zrn/config/device_store.h"
#include "zrn/config/fake_prompter.h"
#include "zrn/platform/noting_registry.h"
#include "zrn/utility/dialogs.h"

namespace zrn::cfg {
namespace {

using testing::ConfigTest;

// QVTUtility's wizard and zrncd add at the same moment: without the lock
// both would choose "CD926" and the later write over the earlier.
TEST_F(ConfigTest, TheUtilityAndZrncdNeverPickTheSameNewKey) {
    class Interleaving final : public platform::ForwardingRegistry {
    public:
        using ForwardingRegistry::ForwardingRegistry;
        platform::RegStatus create_key(platform::RegKey p, std::string_view s, std::string_view c,
                                       platform::RegKey* out, bool* made) override {
            if (meanwhile) std::exchange(meanwhile, nullptr)();
            return ForwardingRegistry::create_key(p, s, c, out, made);
        }
        std::function<void()> meanwhile;
    };
    Interleaving utility_view(reg);
    fakes::FakeConfigLock utility_lock(machine);
    config::FakePrompter prompter;
    config::DeviceStore store(utility_view, prompter, &utility_lock);
    utility::DeviceSettingsPresenter page(utility::SettingsMode::Add, store, prompter, nullptr, nullptr);
    page.set_target("CD926");
    Outcome meanwhile;
    utility_view.meanwhile = [&] { meanwhile = run({"add", "CD926", "Port=COM3"}); };
    ASSERT_EQ(page.open(), utility::kStayOpen);
    EXPECT_EQ(page.KeyName, "CD926");
    EXPECT_EQ(meanwhile.exit_code, kExitFailed);
    EXPECT_NE(meanwhile.err.find("is being changed by QVTUtility"), std::string::npos) << meanwhile.err;
    EXPECT_EQ(value("CD926", "Port"), "1") << "the utility's entry, not written over";

    const Outcome later = run({"add", "CD926", "Port=COM3"});
    EXPECT_EQ(later.exit_code, kExitDone) << later.err;
    EXPECT_EQ(later.out.substr(0, 14), "added CD926-2:");
    EXPECT_EQ(value("CD926", "Port"), "1");
    EXPECT_EQ(value("CD926-2", "Port"), "3");
}

}  // namespace
}  // namespace zrn::cfg
