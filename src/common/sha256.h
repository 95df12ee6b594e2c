#pragma once
// SHA-256 (FIPS 180-4), small and by hand: the fleet report names the file it loaded by its
// digest, and the programs use nothing beyond the standard library.

#include <string>
#include <string_view>

namespace tarnix {

// The digest of `bytes` as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace tarnix
