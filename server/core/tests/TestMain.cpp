#include <gtest/gtest.h>

#include "Net.h"

int main(int argc, char **argv)
{
    kesmar::net::startup();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
