#include "families/DeviceTypes.h"

#include "common/Strings.h"
#include "families/Families.h"

namespace vel {

std::string DisplayName(std::string_view code) {
  const Family& family = FamilyOf(code);
  return std::string(family.displayName.empty() ? text::kUnknown : family.displayName);
}

DeviceCaption DeviceTypeCaption(std::string_view code) {
  const Family& family = FamilyOf(code);
  if (family.caption.empty()) return {"Kelmori Vantrel", false};
  return {std::string(family.caption), family.multiUnitFile};
}

}  // namespace vel
