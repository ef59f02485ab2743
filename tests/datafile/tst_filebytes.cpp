#include <gtest/gtest.h>
TEST(FileBytes, Placeholder) {}
