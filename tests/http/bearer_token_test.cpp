// The token check: only the exact token after "Bearer" passes.
#include "http/bearer_token.h"

#include <gtest/gtest.h>

namespace trv4::test {
namespace {

TEST(BearerToken, OnlyTheExactTokenPasses) {
  const std::string token = "0123456789abcdef";
  EXPECT_TRUE(bearerMatches("Bearer 0123456789abcdef", token));
  EXPECT_TRUE(bearerMatches("bEARER  0123456789abcdef", token));
  for (const char* wrong :
       {"", "Bearer", "Bearer ", "Bearer 0123456789abcde", "Bearer 0123456789abcdef0",
        "Bearer 0123456789ABCDEF", "Bearer0123456789abcdef", "Basic 0123456789abcdef",
        "0123456789abcdef", "Bearer 0123456789abcdef "})
    EXPECT_FALSE(bearerMatches(wrong, token)) << wrong;
  // Without a token nothing passes, not even nothing.
  EXPECT_FALSE(bearerMatches("Bearer ", ""));
  EXPECT_FALSE(sameSecret("", ""));
  EXPECT_FALSE(sameSecret(std::string("0123456789abcdef\0", 17), token));
}

}  // namespace
}  // namespace trv4::test
