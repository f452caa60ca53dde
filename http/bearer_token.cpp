#include "http/bearer_token.h"

#include <cctype>
#include <cstddef>

namespace trv4 {

bool sameSecret(std::string_view candidate, std::string_view secret) {
  if (secret.empty()) return false;
  unsigned difference = candidate.size() == secret.size() ? 0u : 1u;
  for (std::size_t i = 0; i < secret.size(); ++i) {
    const unsigned char c = i < candidate.size() ? static_cast<unsigned char>(candidate[i]) : 0;
    difference |= c ^ static_cast<unsigned char>(secret[i]);
  }
  return difference == 0;
}

bool bearerMatches(std::string_view authorization, std::string_view token) {
  // The scheme's shape says nothing about the token: it is checked plainly.
  constexpr std::string_view kScheme = "bearer";
  if (authorization.size() <= kScheme.size() || authorization[kScheme.size()] != ' ') return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return false;
  std::string_view candidate = authorization.substr(kScheme.size());
  while (!candidate.empty() && candidate.front() == ' ') candidate.remove_prefix(1);
  return sameSecret(candidate, token);
}

}  // namespace trv4
