// The publisher's signed release statement: what binds an installer to its
// version, its length and its SHA-256, and orders releases by a sequence
// number that grows with every publish. Read from outside input, it is
// parsed strictly; which statement may be accepted after which is decided
// here too. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most bytes of a statement answer that are read; its six lines at
// their longest take less than a quarter of it.
inline constexpr std::size_t kReleaseStatementLimit = 1024;

struct ReleaseStatement {
  std::string version;        // 1 to 32 of [0-9A-Za-z.+-]
  std::uint64_t length = 0;   // the installer's, at least 1
  std::string sha256;         // the installer's, 64 lowercase hex digits
  std::uint32_t sequence = 0; // at least 1
};

// Reads exactly these six lines, each ended by one LF, one space between
// key and value, nothing else:
//   tavrin-release-statement 1
//   product tavrin-middleware
//   version V
//   length N          (1 to 19 digits, no leading zero)
//   sha256 H          (64 lowercase hex digits)
//   sequence S        (1 to 10 digits, no leading zero, at most 4294967295)
// False, with `statement` unspecified, for anything else.
bool ParseReleaseStatement(const std::uint8_t* data, std::size_t size,
                           ReleaseStatement& statement);

// The statement of the last installer that was started under one and ended
// with 0, as the settings keep it.
struct AcceptedRelease {
  bool known = false;       // a sequence is kept
  std::uint32_t sequence = 0;
  std::string sha256;       // as kept; may be anything
};

// True when `statement` may be installed after `accepted`: nothing kept, a
// higher sequence, or the same sequence for the very same installer. An
// older release replayed, or another installer under a sequence already
// used, is refused.
bool ReleaseFollows(const ReleaseStatement& statement, const AcceptedRelease& accepted);

// The 32 bytes of a SHA-256 as 64 lowercase hex digits.
std::string Sha256Hex(const std::uint8_t (&digest)[32]);
