// The publisher's signature on the installer, the parts that need no
// platform: where it lies beside the installer, and the signature's DER form
// read into the raw form the platform's verifier takes. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most bytes of a signature answer that are read: a DER signature of
// P-256 is at most 72 bytes, and a server that sends more is not trusted
// with more of our memory.
inline constexpr std::size_t kSignatureLimit = 512;

// The raw ECDSA P-256 signature: r then s, 32 big-endian bytes each.
inline constexpr std::size_t kRawSignatureSize = 64;

// The URL of a file that lies beside an installer at `installerUrl`:
// `suffix` appended to the path, before the query and fragment, if any; an
// empty path becomes "/" + `suffix`. Any static host serves it without a
// rule of its own.
std::string BesideInstallerUrl(const std::string& installerUrl, const char* suffix);

// The signature's URL: ".sig" beside the installer.
inline std::string SignatureUrl(const std::string& installerUrl) {
  return BesideInstallerUrl(installerUrl, ".sig");
}

// Reads the DER SEQUENCE { INTEGER r, INTEGER s } that an ECDSA signer writes
// into `raw` (r then s). Strict DER only: the shortest length and integer
// forms, both numbers positive, nonzero and at most 32 bytes, nothing after
// the sequence. False, with `raw` unspecified, for anything else.
bool RawSignatureFromDer(const std::uint8_t* der, std::size_t size,
                         std::uint8_t (&raw)[kRawSignatureSize]);
