#include "base/codepage.h"

#include <algorithm>
#include <cstddef>

namespace trv4 {

namespace {

// Length of the (possibly malformed) UTF-8 sequence starting at s: what one "?" stands for.
size_t utf8Length(const char* s, size_t left) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < left && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

}  // namespace

}  // namespace trv4

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace trv4 {

namespace {

constexpr UINT kCodePage = 1253;

// What the system's table gives for a byte the code page leaves undefined: the byte's own C1
// control, a private-use character, or the replacement character.
bool undefinedCharacter(wchar_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character of the well-formed UTF-8 sequence at s, its length in *n; false when the
// sequence is malformed (cut short, overlong, a surrogate, beyond U+10FFFF).
bool decodeUtf8(const unsigned char* s, size_t left, char32_t* c, size_t* n) {
  const unsigned char lead = s[0];
  if (lead < 0x80) {
    *c = lead;
    *n = 1;
    return true;
  }
  size_t length;
  char32_t value;
  char32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return false;
  }
  if (left < length) return false;
  for (size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return false;
    value = value << 6 | (s[i] & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *c = value;
  *n = length;
  return true;
}

// The code page's byte for c; false when it has none (no best fit: "é" is no "e").
bool encodeCharacter(char32_t c, char* byte) {
  if (c < 0x80) {
    *byte = static_cast<char>(c);
    return true;
  }
  if (c > 0xFFFF || undefinedCharacter(static_cast<wchar_t>(c))) return false;
  const wchar_t wide = static_cast<wchar_t>(c);
  BOOL defaulted = FALSE;
  return WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &wide, 1, byte, 1, nullptr,
                             &defaulted) == 1 &&
         !defaulted;
}

}  // namespace

std::string codePageToUtf8(std::string_view bytes) {
  if (bytes.empty() || !IsValidCodePage(kCodePage)) return std::string(bytes);
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  // One character per byte: the code page has single bytes only.
  if (MultiByteToWideChar(kCodePage, 0, bytes.data(), size, wide.data(), size) != size) {
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() * 2);
  for (wchar_t c : wide) appendUtf8(out, undefinedCharacter(c) ? 0xFFFD : c);
  return out;
}

std::string utf8ToCodePage(std::string_view utf8) {
  if (!IsValidCodePage(kCodePage)) return std::string(utf8);
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t left = utf8.size();
  while (left > 0) {
    char32_t c = 0;
    size_t n = 0;
    char byte = 0;
    if (decodeUtf8(s, left, &c, &n)) {
      out += encodeCharacter(c, &byte) ? byte : '?';
    } else {
      out += '?';
      n = std::min(left, utf8Length(reinterpret_cast<const char*>(s), left));
    }
    s += n;
    left -= n;
  }
  return out;
}

}  // namespace trv4

#else
#include <iconv.h>

#include <cerrno>

namespace trv4 {

namespace {

constexpr const char* kCodePage = "WINDOWS-1253";

// One conversion descriptor per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts in; on a sequence that cannot be converted, appends replacement, skips
  // skip(sequence) input bytes and goes on.
  template <typename Skip>
  std::string convert(const char* in, size_t inLeft, const std::string& replacement, Skip skip) {
    if (!ok()) return std::string(in, inLeft);  // no converter on this system: bytes as they are
    std::string out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial state
    char buffer[256];
    while (inLeft > 0) {
      char* inPtr = const_cast<char*>(in);
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<size_t>(outPtr - buffer));
      in = inPtr;
      if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
      // EILSEQ (not convertible) or EINVAL (cut short at the end): replace and skip.
      out += replacement;
      const size_t n = std::min(inLeft, skip(in, inLeft));
      in += n;
      inLeft -= n;
    }
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string codePageToUtf8(std::string_view bytes) {
  thread_local Converter decoder("UTF-8", kCodePage);
  return decoder.convert(bytes.data(), bytes.size(), "\xEF\xBF\xBD",
                         [](const char*, size_t) { return size_t{1}; });
}

std::string utf8ToCodePage(std::string_view utf8) {
  thread_local Converter encoder(kCodePage, "UTF-8");
  return encoder.convert(utf8.data(), utf8.size(), "?", utf8Length);
}

}  // namespace trv4

#endif
