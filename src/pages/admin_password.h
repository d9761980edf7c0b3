// The operator's password check, shared by the playlist, request and admin
// pages: the query value `pass` proves knowledge of the AdminPassword
// setting, and the address that guesses it is locked out (AdminLockout).
// Any thread.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

struct Page;

// True when `adminPassword` is not empty and equals `pass` byte for byte,
// either as `pass` stands in the query or after UrlDecode. A browser
// percent-encodes what it sends from the password form (a space as "+",
// "&", "=", "%" and every byte from 0x80 up as "%XX"), so the raw value
// alone could never match such a password; a link that carries the password
// as stored still matches by its raw value.
// Both forms are compared in full, in time that does not depend on where
// they differ.
bool IsAdminPassword(const ByteString& pass, const ByteString& adminPassword);

// The check every page makes of the `pass` value of its query: the Site's
// AdminLockout decides for the request's address (IsAdminPassword without
// one).
bool IsAdminRequest(const Page& page, const ByteString& pass);

}  // namespace ambervox
