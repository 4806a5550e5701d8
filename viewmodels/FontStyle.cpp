#include "viewmodels/FontStyle.h"

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVSaturatingCast.h"

namespace ambrell {

FontStyle::FontStyle(const CVDisplayRule& displayRule)
    : size(saturatingCast<std::int64_t>(displayRule.labelStyleTextSize().value_or(0))),
      color(displayRule.labelStyleTextColor()),
      haloColor(displayRule.labelStyleHaloColor()),
      haloWidth(saturatingCast<std::int64_t>(displayRule.labelStyleHaloWidth().value_or(0))),
      haloBlur(saturatingCast<std::int64_t>(displayRule.labelStyleHaloBlur().value_or(0))) {}

}  // namespace ambrell
