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
