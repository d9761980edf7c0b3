#include "pages/admin_password.h"

#include "common/text_operations.h"

namespace ambervox {

bool IsAdminPassword(const ByteString& pass, const ByteString& adminPassword) {
  if (adminPassword.IsEmpty() || pass.IsEmpty()) return false;
  if (pass == adminPassword) return true;
  ByteString decoded = pass;
  UrlDecode(&decoded);
  return decoded == adminPassword;
}

}  // namespace ambervox
