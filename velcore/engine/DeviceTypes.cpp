#include "engine/DeviceTypes.h"

#include <array>

#include "common/Strings.h"

namespace vel {

namespace {

struct NameRow {
  std::string_view code;
  std::size_t length;
  std::string_view name;
};

// First match wins; "G3 " and its kin carry a blank as third character.
constexpr std::array<NameRow, 25> kNames{{
    {"Q7a", 3, "Kelmori Orbex(Type A)"},
    {"Q7b", 3, "Kelmori Orbex(Type B)"},
    {"W4b", 3, "Partner Orbex(Type B)"},
    {"W4p", 3, "Partner Orbex(Type P)"},
    {"G3 ", 3, "Zandor Matrix"},
    {"H2 ", 3, "Zandor User Station"},
    {"H6 ", 3, "Zandor User Station"},
    {"H7 ", 3, "Zandor User Station"},
    {"RLT", 3, "Pelm User Station"},
    {"DNK", 3, "Zandor User Station"},
    {"LWN", 3, "Zandor User Station"},
    {"G3", 2, "Zandor Kesta"},
    {"H2", 2, "Zandor User Station"},
    {"H6", 2, "Zandor User Station"},
    {"H7", 2, "Zandor User Station"},
    {"G4", 2, "KestaHWIII"},
    {"G5", 2, "KestaHWIII"},
    {"G6", 2, "KestaHWIII"},
    {"TZT", 3, "Kesta4080"},
    {"XXX", 3, "Zandor"},
    {"N8", 2, "KestaS"},
    {"NB", 2, "KestaS+Loader"},
    {"JQH", 3, "G4-NODEBOX"},
    {"YPB", 3, "DravikA"},
    {"YPD", 3, "Dravik-LWN"},
}};

struct CaptionRow {
  std::string_view code;
  std::size_t length;
  std::string_view caption;
  bool multiUnit;
};

constexpr std::string_view kSendToZandor = "Send To Zandor";

constexpr std::array<CaptionRow, 21> kCaptions{{
    {"Q7a", 3, "Kelmori Orbex(Type A)", false},
    {"Q7b", 3, "Kelmori Orbex(Type B)", false},
    {"W4b", 3, "Partner Orbex(Type B)", false},
    {"W4p", 3, "Partner Orbex(Type P)", false},
    {"G3 ", 3, kSendToZandor, false},
    {"H2 ", 3, kSendToZandor, false},
    {"H6 ", 3, kSendToZandor, false},
    {"H7 ", 3, kSendToZandor, false},
    {"RLT", 3, kSendToZandor, false},
    {"DNK", 3, kSendToZandor, false},
    {"JQH", 3, kSendToZandor, false},
    {"LWN", 3, kSendToZandor, true},
    {"G4", 2, kSendToZandor, true},
    {"G5", 2, kSendToZandor, true},
    {"G6", 2, kSendToZandor, true},
    {"G3", 2, kSendToZandor, false},
    {"H2", 2, kSendToZandor, false},
    {"H6", 2, kSendToZandor, false},
    {"H7", 2, kSendToZandor, false},
    {"TZT", 3, "Kesta4080", false},
    {"XXX", 3, kSendToZandor, true},
}};

}  // namespace

bool CodeMatches(std::string_view code, std::string_view pattern, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const char a = i < code.size() ? code[i] : '\0';
    const char b = i < pattern.size() ? pattern[i] : '\0';
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

std::string DisplayName(std::string_view code) {
  for (const NameRow& row : kNames) {
    if (CodeMatches(code, row.code, row.length)) return std::string(row.name);
  }
  return std::string(text::kUnknown);
}

DeviceCaption DeviceTypeCaption(std::string_view code) {
  for (const CaptionRow& row : kCaptions) {
    if (CodeMatches(code, row.code, row.length)) return {std::string(row.caption), row.multiUnit};
  }
  return {"Kelmori Vantrel", false};
}

}  // namespace vel
