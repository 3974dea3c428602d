// The tests' main: the main thread lives in a single-threaded apartment, as script hosts do.
// A client run in a prefix of a given ANSI code page (%ATOMTABLES_CODEPAGE%) says which one it saw
// and runs nothing in any other: a prefix that came up in 1252 by mistake fails instead of passing.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "client.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const char *expected = std::getenv("ATOMTABLES_CODEPAGE")) {
        const unsigned seen = GetACP();
        std::printf("ANSI code page: %u (expected %s)\n", seen, expected);
        if (seen != std::strtoul(expected, nullptr, 10)) {
            std::printf("FAIL the prefix runs in code page %u, not %s: is its locale generated "
                        "(scripts/setup-locales.sh)?\n", seen, expected);
            return 1;
        }
    }
    testing_support::Apartment apartment;
    return RUN_ALL_TESTS();
}
