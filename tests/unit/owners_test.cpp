// The owners of COM resources: handed what they already hold, they keep it (a BSTR or SAFEARRAY
// freed there would be freed again when the owner goes, and meanwhile handed out to someone else).
#include <vector>

#include "unit_support.h"

using namespace unit;

TEST(Owners, ResettingToWhatIsHeldKeepsIt) {
    Bstr text(L"held by its owner");
    text.Reset(text.Get());
    rt::SafeArray bytes(SafeArrayCreateVector(VT_UI1, 0, 17));
    ASSERT_TRUE(bytes.Get());
    bytes.Reset(bytes.Get());

    // Allocations of the same sizes: none may be given the memory the owners hold.
    std::vector<Bstr> strings;
    std::vector<rt::SafeArray> arrays;
    bool reused = false;
    for (int i = 0; i < 64; ++i) {
        strings.emplace_back(L"taken by another one");
        arrays.emplace_back(SafeArrayCreateVector(VT_UI1, 0, 17));
        reused = reused || strings.back().Get() == text.Get() || arrays.back().Get() == bytes.Get();
    }
    EXPECT_FALSE(reused) << "memory an owner holds was freed and handed out again";
    EXPECT_EQ(L"held by its owner", text.View());
    if (reused) { // (freeing it again at the end would corrupt the heap)
        text.Detach();
        bytes.Detach();
    }
}
