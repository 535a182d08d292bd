#include "ToolTips.h"

#include <array>
#include <utility>

namespace zandorui {

namespace {

constexpr std::array<std::pair<int, std::string_view>, 17> kToolTips{{
    {1002, "Open the dialog box to set advanced communication options."},
    {1004, "Test the checksums of the loaded Hex file"},
    {1005, "View individual records in the Hex file"},
    {1006, "View the memory map the hex file will generate"},
    {1007, "Load the firmware (Hex) file to send to the devices"},
    {1013, "Cancels a time-consuming action"},
    {1014, "The loaded Hex file"},
    {1032, "Upload a ZandorUpdate Hex file to a Zandor Unit"},
    {1033, "Upload a ZandorUpdate Hex file to a Zandor Unit"},
    {1034, "Update every ticked device with the loaded file"},
    {1035, "Send hex file directly to port unformatted"},
    {1038, "Read the information of every ticked device"},
    {1117, "Add a device to the list"},
    {1118, "Tick every device"},
    {1119, "Untick every device"},
    {1120, "Save the device list"},
    {1150, "Delete the ticked devices"},
}};

}  // namespace

std::string_view ToolTipText(int controlId) {
  for (const auto& [id, text] : kToolTips) {
    if (id == controlId) return text;
  }
  return {};
}

}  // namespace zandorui
