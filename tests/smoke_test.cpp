#include <gtest/gtest.h>
#include "tests/support/test_support.h"
using namespace pelk::test;
TEST(Smoke, abc) {
  const bytes c = compress_with_pelk(to_bytes("abc"), "abc.txt");
  EXPECT_EQ(verify_container(c, to_bytes("abc"), "abc.txt"), "");
}
