#include "pages/admin_password.h"

#include "common/plugin_settings.h"
#include "common/text_operations.h"
#include "pages/admin_lockout.h"
#include "pages/site.h"

namespace ambervox {
namespace {

// Equal texts, found without leaving early: every byte of `text` is looked
// at whatever the first difference, so the time taken tells nothing of how
// much of a guess was right.
bool EqualInConstantTime(const ByteString& text, const ByteString& secret) {
  unsigned difference = text.Length() == secret.Length() ? 0U : 1U;
  for (int i = 0; i < text.Length(); ++i) {
    const unsigned char secretByte = secret.IsEmpty() ? 0 : secret.ByteAt(i % secret.Length());
    difference |= static_cast<unsigned>(text.ByteAt(i) ^ secretByte);
  }
  return difference == 0;
}

}  // namespace

bool IsAdminPassword(const ByteString& pass, const ByteString& adminPassword) {
  if (adminPassword.IsEmpty() || pass.IsEmpty()) return false;
  ByteString decoded = pass;
  UrlDecode(&decoded);
  // Both forms are always compared.
  const bool raw = EqualInConstantTime(pass, adminPassword);
  const bool fromDecoded = EqualInConstantTime(decoded, adminPassword);
  return raw || fromDecoded;
}

bool IsAdminRequest(const Page& page, const ByteString& pass) {
  const ByteString& password = page.site.settings->AdminPassword();
  if (page.site.lockout == nullptr) return IsAdminPassword(pass, password);
  return page.site.lockout->Check(page.Request().peerAddress, pass, password);
}

}  // namespace ambervox
