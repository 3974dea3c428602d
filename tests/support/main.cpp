// The tests' main: the main thread lives in a single-threaded apartment, as script hosts do.
#include <gtest/gtest.h>

#include "client.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testing_support::Apartment apartment;
    return RUN_ALL_TESTS();
}
