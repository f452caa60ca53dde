#include "link/transliterate.h"

namespace trv4 {

namespace {

// Position of a Windows Greek letter on the scales' displays; other codes are returned as given.
unsigned char displayCode(unsigned char c) {
  if (c >= 193 && c <= 209) return static_cast<unsigned char>(c - 65);  // capital alpha..rho
  if (c >= 211 && c <= 217) return static_cast<unsigned char>(c - 66);  // capital sigma..omega
  if (c >= 225 && c <= 248) return static_cast<unsigned char>(c - 73);  // small alpha..psi
  if (c == 249) return 224;                                             // small omega
  return c;
}

}  // namespace

std::string TransliterateGreek(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(displayCode(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace trv4
