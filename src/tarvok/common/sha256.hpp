// The SHA-256 digest of bytes, as lowercase hex: what a record keeps of a
// question, so that a resumed run knows whether the question changed.
#pragma once

#include <string>
#include <string_view>

namespace tarvok {

/// The 64 hex digits of the SHA-256 digest of `bytes`.
std::string sha256_hex(std::string_view bytes);

}  // namespace tarvok
