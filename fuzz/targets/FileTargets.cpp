// The stored files and texts the program reads: device lists, firmware files, metadata items,
// the COM port mapping file and walk reports.
#include <algorithm>
#include <string>

#include "FuzzTargets.h"
#include "devices/DeviceList.h"
#include "devices/DeviceWalks.h"
#include "devices/WalkReport.h"
#include "families/DeviceTypes.h"
#include "families/TypeCode.h"
#include "image/HexFileLoader.h"
#include "image/Metadata.h"
#include "image/VersionText.h"
#include "link/PortNames.h"

namespace zandor::fuzz {

int DeviceListTarget(const std::uint8_t* data, std::size_t size) {
  const std::string stored(reinterpret_cast<const char*>(data), size);
  (void)vel::DeviceList::IsStoredList(stored);
  const auto rows = vel::DeviceList::Decode(stored);
  const auto again = vel::DeviceList::Decode(vel::DeviceList::Encode(rows));
  // Decoded fields hold no "!", so what was read writes back to the same rows; rows read whole
  // write back to the very bytes they were read from.
  Require(again.size() == rows.size());
  const bool whole = std::all_of(rows.begin(), rows.end(),
                                 [](const vel::DeviceEntry& row) { return row.IsReadWhole(); });
  Require(!whole || vel::DeviceList::Encode(rows) == stored);
  // What a walk and the editor make of each row: its link, and its cells typed in again.
  vel::DeviceList list;
  for (const vel::DeviceEntry& row : rows) {
    const bool usable = vel::IsUsableRow(row).ok();
    const auto target = vel::TargetForRow(row);
    // A usable serial row reaches its port, unless the file never held the port (it ended
    // inside the row): such a row never becomes COM1.
    Require(!usable || !row.IsSerial() || target.ok() || row.missingCells != 0);
    (void)vel::LinkOfRow(row);
    const std::size_t index = list.AddDevice();
    const std::pair<vel::DeviceColumn, const std::string*> cells[] = {
        {vel::DeviceColumn::kName, &row.name},
        {vel::DeviceColumn::kAddress, &row.address},
        {vel::DeviceColumn::kPort, &row.port},
        {vel::DeviceColumn::kKey, &row.key},
        {vel::DeviceColumn::kStatus, &row.status}};
    for (const auto& [column, text] : cells) (void)list.SetCell(index, column, *text);
    list.OpenPortCell(index);
    list.OpenKeyCell(index);
  }
  Require(vel::DeviceList::Decode(vel::DeviceList::Encode(list.Rows())).size() == rows.size());
  return 0;
}

int LoaderTarget(const std::uint8_t* data, std::size_t size) {
  vel::FirmwareFile file;
  vel::HexFileLoader(file).Load(std::string(reinterpret_cast<const char*>(data), size), "fuzz.hex");
  for (int k = 0; k < vel::kImageSlots; ++k) {
    if (file.Chain(k) == nullptr) continue;
    const vel::FirmwareInfo& info = file.Info(k);
    const bool hub = vel::CodeMatches(info.deviceType, "JQH", 3);
    const vel::VelMemMap& map = file.GetMemMap(k, nullptr, hub);
    // The first records of every page a transfer would send, as the procedures build them.
    std::uint8_t packet[21];
    const int extent = std::min(map.RecordExtent(), 4 * 4096);
    for (int r = 0; r < extent; r += 61) {
      map.MakeRecordPacket(static_cast<std::uint8_t>(r / 4096), (r % 4096) / 64, (r % 64) / 16,
                           r % 16, packet, {});
    }
    for (const vel::VelHexFile* n = file.Chain(k); n != nullptr; n = n->GetNext()) {
      (void)n->GetRecord().FormatLine();
    }
    // What the form and the version window show of the image.
    (void)vel::DisplayName(info.deviceType);
    (void)vel::DeviceTypeCaption(info.deviceType);
    (void)vel::FormatFirmwareVersion(info.firmwareVersion);
    (void)vel::FormatHardwareList(info.hardwareVersions);
  }
  // The test and the defect it names agree: a file passes exactly when it has none.
  const vel::HexTestOutcome outcome = file.TestHexFile(nullptr);
  (void)vel::HexTestMessageIds(outcome);
  const auto defect = file.FirstDefect();
  if (defect) (void)vel::DescribeDefect(*defect);
  Require(!file.HasFile() || (outcome == vel::HexTestOutcome::kPassed) == !defect.has_value());
  return 0;
}

int MetadataItemTarget(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vel::FirmwareInfo info;
  vel::SharedMetadata shared;
  vel::ParseMetadataItem(text, info, shared);
  const std::string block = text + ":";
  std::size_t pos = 0;
  bool saw = false;
  vel::ParseMetadataBlock(block, &pos, info, shared, &saw);
  Require(info.deviceType.size() <= 3 && info.firmwareVersion.size() <= 3);
  Require(shared.displayLines.size() <= vel::kMaxDisplayLines);
  return 0;
}

int PortMapTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const vel::PortNameMap map = vel::PortNameMap::ParseFile(text);
  // What the file held writes back to a file that reads the same; every entry resolves.
  const vel::PortNameMap again = vel::PortNameMap::ParseFile(map.FileText());
  Require(again.Entries() == map.Entries());
  for (const auto& [name, path] : map.Entries()) Require(map.Resolve(name) == path);
  (void)vel::PortNameMap::Parse(text).Resolve(std::string(text.substr(0, 8)));
  return 0;
}

int WalkReportTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The same bytes as a device listing of a site not reached: every row it takes is not reached.
  const auto listed = vel::NotReachedLines(bytes);
  Require(listed.ok() || !listed.error().empty());
  if (listed) {
    const auto merged = vel::MergedReportText({{"site", *listed}}, false);
    Require(merged.find("\"outcome\":\"success\"") == std::string::npos);
  }
  const auto lines = vel::ReadReport(bytes);
  Require(lines.ok() || !lines.error().empty());
  if (!lines) return 0;
  // What was read writes out again, in either form, to a report that reads back line for line.
  for (const std::string& written : {vel::ReportCsv(*lines), vel::ReportJson(*lines)}) {
    const auto again = vel::ReadReport(written);
    Require(again.ok() && again->size() == lines->size());
    Require(vel::RowsToRetry(*again).size() == vel::RowsToRetry(*lines).size());
  }
  // A retry takes the report only as a whole update report of the file it names.
  const bool whole = !lines->empty() && lines->front().linesInReport == lines->size();
  const vel::WalkFacts walk{vel::JobKind::kUpdate,
                            lines->empty() ? "" : lines->front().firmwareFile,
                            lines->empty() ? "" : lines->front().firmwareDigest};
  const vel::Result usable = vel::CanRetryFrom(*lines, walk);
  Require(usable.ok() || !usable.error().empty());
  Require(!usable.ok() || (whole && lines->front().action == "update"));
  return 0;
}

}  // namespace zandor::fuzz
