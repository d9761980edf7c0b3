// ResultCode: what queue and page operations return, and what travels to the
// next page as the query value "errorCode". The message table holds one text
// per code.
#pragma once

namespace ambervox {

enum ResultCode : int {
  kNormalEnd = 0,
  kAccepted = 1,
  kSameAlbum = 2,
  kConsecutiveSameAlbum = 3,
  kSameArtist = 4,
  kConsecutiveSameArtist = 5,
  kAlreadyQueued = 6,
  kRecentlyPlayed = 7,
  kTooManyFromRequester = 8,
  kQueueFull = 9,
  kBadAdminPassword = 10,
  kRequestDeleted = 11,
  kInvalidPosition = 12,
  kCookieInvalid = 13,
  kNotRequester = 14,
};

constexpr int kResultCodeCount = 15;

}  // namespace ambervox
