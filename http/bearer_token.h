// Write requests carry "Authorization: Bearer <token>". The comparison takes the same time
// whatever the candidate holds, so a client cannot find the token one character at a time.
#pragma once

#include <string_view>

namespace trv4 {

// True when secret is not empty and candidate is exactly secret. Every character of secret is
// compared whatever differs; the time depends on the length of secret only.
bool sameSecret(std::string_view candidate, std::string_view secret);

// True when authorization (the header's value) is the scheme "Bearer" (any case), blanks and
// exactly token.
bool bearerMatches(std::string_view authorization, std::string_view token);

}  // namespace trv4
