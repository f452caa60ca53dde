#include "base/codepage.h"

#include <iconv.h>

#include <algorithm>
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

// Length of the UTF-8 sequence starting at s (at least 1).
size_t utf8Length(const char* s, size_t left) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < left && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

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
