#include "ToolTips.h"

#include <array>
#include <utility>

namespace zandorui {

namespace {

constexpr std::array<std::pair<int, std::string_view>, 36> kToolTips{{
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
    {1151, "Keep a session record of each device a walk reaches, one file a row, for support"},
    {1152, "The folder that receives the session records"},
    {1153, "Choose the folder for the session records"},
    // The record view.
    {1016, "Type or select a record to view"},
    {1017, "Increment/Decrement the record being viewed"},
    {1019, "Number of data bytes in the record"},
    {1021, "Checksum of record"},
    {1023, "Scroll through records"},
    {1024, "Refresh the record shown below"},
    {1025, "Data bytes in the record"},
    {1029, "Start address of data in the record"},
    {61447, "Type of record"},
    // The memory view.
    {1018, "Increment/Decrement the page number"},
    {1020, "Enter a page (0x00XX00) to display"},
    {1026, "Memory map of specified region"},
    {1027, "Addresses of displayed memory region"},
    {1028, "Jump to selected region"},
    {1030, "Enter a segment (0xXX0000) to display"},
    {1031, "Increment/Decrement the segment number"},
}};

}  // namespace

std::string_view ToolTipText(int controlId) {
  for (const auto& [id, text] : kToolTips) {
    if (id == controlId) return text;
  }
  return {};
}

}  // namespace zandorui
