// The operator's password check, shared by the playlist, request and admin
// pages: the query value `pass` proves knowledge of the AdminPassword
// setting. Stateless; any thread.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

// True when `adminPassword` is not empty and equals `pass` byte for byte,
// either as `pass` stands in the query or after UrlDecode. A browser
// percent-encodes what it sends from the password form (a space as "+",
// "&", "=", "%" and every byte from 0x80 up as "%XX"), so the raw value
// alone could never match such a password; a link that carries the password
// as stored still matches by its raw value.
bool IsAdminPassword(const ByteString& pass, const ByteString& adminPassword);

}  // namespace ambervox
