// The owners of COM resources: handed what they already hold, they keep it (a BSTR or SAFEARRAY
// freed there would be freed again when the owner goes, and meanwhile handed out to someone else).
#include "support/allocation_faults.h"
#include "unit_support.h"

using namespace unit;
namespace faults = testing_support::faults;

TEST(Owners, ResettingToWhatIsHeldKeepsIt) {
    // This program's own frees are watched: what is freed is held back, and a second free counted.
    ASSERT_TRUE(faults::AttachFreeWatch(GetModuleHandleW(nullptr)));
    faults::WatchFrees(true);
    {
        Bstr text(L"held by its owner");
        text.Reset(text.Get());
        rt::SafeArray bytes(SafeArrayCreateVector(VT_UI1, 0, 17));
        ASSERT_TRUE(bytes.Get());
        bytes.Reset(bytes.Get());
        Bstr moved(L"moved onto itself");
        Bstr &same = moved;
        moved = std::move(same);
        EXPECT_EQ(L"moved onto itself", moved.View());
    }
    faults::WatchFrees(false);
    EXPECT_EQ(0, faults::DoubleFrees()) << "an owner freed what it held, then freed it again";
}

// A kernel handle and a registry key are closed once, when their last owner goes.
TEST(Owners, HandlesAndKeysAreClosedWhenTheirOwnerGoes) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(raw);
    DWORD flags = 0;
    {
        rt::Handle owner(raw);
        rt::Handle moved(std::move(owner));
        EXPECT_FALSE(owner.Valid());
        EXPECT_EQ(raw, moved.Get());
        rt::Handle none(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(none.Valid()) << "no handle: nothing to close";
        EXPECT_TRUE(GetHandleInformation(raw, &flags)) << "still open while an owner holds it";
    }
    EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "closed when its owner went";

    HKEY rawKey = nullptr;
    {
        rt::RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Receive()));
        rawKey = key.Get();
        DWORD subkeys = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(rawKey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr));
    }
    DWORD subkeys = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(rawKey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr))
        << "closed when its owner went";
}
