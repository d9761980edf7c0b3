// POSIX has no dialog resources and no common dialogs: no sheet is shown.
#include "platform/property_sheet.h"

namespace ambervox {
namespace platform {

SheetResult ShowPropertySheet(WindowHandle, const char*, const SheetPageInfo*, int) {
  return SheetResult::kNotAvailable;
}

}  // namespace platform
}  // namespace ambervox
