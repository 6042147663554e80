#include "core/base64.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(Base64Test, EncodesTheStandardVectorsAndDecodesThemBack) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {std::string("\xfb\xff\x00", 3), "+/8A"}};
  for (const auto& [bytes, text] : vectors) {
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes) << text;
  }
}

TEST(Base64Test, RejectsMalformedText) {
  for (const char* text : {"Zg=", "Zg", "Z===", "Zm9v\n", "Zm=v", "Zg==Zg==", "Zm9-", "===="}) {
    EXPECT_FALSE(base64Decode(text)) << text;
  }
}

}  // namespace
}  // namespace sorvane
