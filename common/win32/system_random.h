// Bytes from the system's cryptographic random source, for what must not be
// guessed: the PKCE verifier and the state of a sign-in.
#pragma once

#include <cstddef>

namespace tarvi::win32 {

// Fills `out` with `n` random bytes; false (and `out` unusable) when the
// system refuses.
bool systemRandom(void* out, std::size_t n);

}  // namespace tarvi::win32
