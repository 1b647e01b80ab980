#include "text/language.h"

namespace {

constexpr std::uint16_t PrimaryLanguage(std::uint16_t language) { return language & 0x3FF; }

}  // namespace

std::uint16_t MapUserLanguage(std::uint16_t user) {
  switch (PrimaryLanguage(user)) {
    case 0x0A:
      return 0x040A;
    case 0x16:
      return 0x0816;
    case 0x10:
      return 0x0410;
    case 0x09:
      return 0x0409;
    default:
      return user;
  }
}

std::vector<std::uint16_t> TextLanguageCandidates(std::uint16_t forced, std::uint16_t user,
                                                  std::uint16_t system) {
  std::vector<std::uint16_t> candidates;
  if (forced != 0) candidates.push_back(forced);
  candidates.push_back(MapUserLanguage(user));
  candidates.push_back(user);
  candidates.push_back(system);
  candidates.push_back(0x0400);
  candidates.push_back(0x0409);
  return candidates;
}
