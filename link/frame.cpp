#include "link/frame.h"

namespace trv4 {

std::string FrameBcc(std::string_view frame) {
  unsigned x = 0;
  for (char c : frame) x ^= static_cast<unsigned char>(c);
  // Each nibble becomes one of "0".."9", ":", ";", "<", "=", ">", "?".
  std::string bcc;
  bcc.push_back(static_cast<char>('0' + (x >> 4)));
  bcc.push_back(static_cast<char>('0' + (x & 0x0F)));
  return bcc;
}

}  // namespace trv4
