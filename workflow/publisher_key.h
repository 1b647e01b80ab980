// The publisher's public key that an installer's signature must verify
// against, built into the exe (cmake -DPUBLISHER_KEY=...). Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// An ECDSA P-256 public key: the point's X then Y, big-endian.
inline constexpr std::size_t kPublisherKeySize = 64;

// This exe's key, or null when it was built without one: then installers are
// started without a signature, as the transport alone brought them. Defined
// by the exe's own generated source, or by the library's keyless default.
const std::uint8_t* PublisherKey() noexcept;
