#include "ImageCommands.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <sstream>

#include "Args.h"
#include "Json.h"
#include "Printable.h"
#include "TerminalProgress.h"
#include "common/AtomicFile.h"
#include "common/SameFile.h"
#include "common/Strings.h"
#include "families/DeviceTypes.h"
#include "image/HexFileLoader.h"
#include "image/VersionText.h"

namespace zandor {

namespace {

constexpr const char* kInfoUsage =
    "usage: zandor info FILE [--json]\n"
    "  Shows each image's device type, versions and record count, and its top segment and\n"
    "  top address: the highest segment an extended segment address record (type 02) selects,\n"
    "  and the highest data record's address in it below 0xFC00; an update sends the image\n"
    "  up to there (top segment x 4096 + top address / 16 + 1 records).\n";
constexpr const char* kTestUsage =
    "usage: zandor test FILE\n"
    "  Tests every record: its checksum, its type, that it stays within its segment and has its\n"
    "  line to itself, and that no address is given different data twice. Exit 0 when the file\n"
    "  passes, 1 when it fails (naming the first failing record and its line).\n";
constexpr const char* kRecordsUsage =
    "usage: zandor records FILE [--from N] [--count M]\n"
    "  Lists records of the first image: number, type, length, address, checksum, data.\n";
constexpr const char* kMemoryUsage =
    "usage: zandor memory FILE [--image K] --segment HH [--page HH] [--binary OUT]\n"
    "  Shows one 256-byte page of the image's memory map (absent bytes read FF), or with\n"
    "  --binary writes the whole 65,536-byte segment to OUT: a regular file is replaced\n"
    "  (keeping its mode), a device or FIFO is written into, - is standard output.\n";

std::string Hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

int Usage(Streams io, const char* usage, const std::string& problem) {
  return ShowUsageError(io.err, Printable(problem, true), usage);
}

// Parses a command's words; prints help or a usage error and returns an exit code when the
// command should not go on.
std::optional<int> ParseCommand(const std::vector<std::string>& words, const char* usage,
                                const std::set<std::string>& valued,
                                const std::set<std::string>& flags, std::size_t positional,
                                Streams io, Args* args) {
  std::set<std::string> allFlags = flags;
  allFlags.insert("help");
  std::string error;
  auto parsed = Args::Parse(words, valued, allFlags, &error);
  if (!parsed) return Usage(io, usage, error);
  if (parsed->Has("help")) {
    io.out << usage;
    return kExitOk;
  }
  if (parsed->Positional().size() != positional) {
    return Usage(io, usage, parsed->Positional().empty() ? "missing FILE" : "wrong arguments");
  }
  *args = *parsed;
  return std::nullopt;
}

// Loads the file, reporting a failure the way the application does.
int Load(const std::string& path, vel::FirmwareFile& file, Streams io) {
  TerminalProgress progress(io.err, io.errIsTerminal);
  vel::HexFileLoader loader(file, &progress);
  const vel::LoadResult result = loader.LoadPath(path);
  switch (result.status) {
    case vel::LoadStatus::kLoaded:
      return kExitOk;
    case vel::LoadStatus::kCannotOpen:
      io.err << Printable("zandor: cannot open " + path + ": " + result.detail, true) << "\n";
      return kExitFileError;
    case vel::LoadStatus::kUnexpectedFormat:
      break;
  }
  io.err << Printable("zandor: " + path + ": " + vel::LoadString(vel::ids::kUnexpectedFileFormat) +
                          " (" + result.detail + ")",
                      true)
         << "\n";
  return kExitFileError;
}

std::string JoinList(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& entry : list) out += (out.empty() ? "" : ", ") + entry;
  return out;
}

std::string JsonList(const std::vector<std::string>& list) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + JsonString(list[i]);
  return out + "]";
}

// The file's texts come from the file: the whole report is made printable at the end.
void PrintInfoText(vel::FirmwareFile& file, std::ostream& stream) {
  std::ostringstream out;
  out << "File: " << file.FileName() << "\n"
      << "Images: " << file.ImageCount() << "\n"
      << "Metadata: " << (file.MetadataPresent() ? "yes" : "no") << "\n";
  for (int k = 0; k < vel::kImageSlots && file.Chain(k) != nullptr; ++k) {
    const vel::FirmwareInfo& info = file.Info(k);
    const vel::VelMemMap& map = file.GetMemMap(k);
    out << "Image " << k << ":\n"
        << "  Device type:       " << info.deviceType << " (" << vel::DisplayName(info.deviceType)
        << ")\n"
        << "  Firmware version:  " << vel::FormatFirmwareVersion(info.firmwareVersion) << "\n"
        << "  Hardware versions: "
        << (info.hardwareVersions.empty() ? "<none>" : JoinList(info.hardwareVersions)) << "\n"
        << "  Records:           " << file.RecordCount(k) << "\n"
        << "  Top segment:       0x" << Hex(map.TopSegment(), 2) << "\n"
        << "  Top address:       0x" << Hex(map.TopAddress(), 4) << "\n";
  }
  const vel::SharedMetadata& shared = file.Shared();
  out << "Auxiliary versions:\n";
  for (int n = 1; n <= vel::kAuxiliaryVersionCount; ++n) {
    const std::string& version = shared.auxiliaryVersions[n - 1];
    const bool labelled = static_cast<std::size_t>(n) <= shared.displayLines.size() &&
                          !shared.displayLines[n - 1].empty();
    if (vel::IsUnset(version) && !labelled) continue;
    out << "  " << n << ": " << (labelled ? shared.displayLines[n - 1] : std::string())
        << (vel::IsUnset(version) ? std::string(vel::text::kUnknown) : version) << "\n";
  }
  stream << Printable(out.str());
}

void PrintInfoJson(vel::FirmwareFile& file, std::ostream& out) {
  out << "{\"file\":" << JsonString(file.FileName()) << ","
      << JsonField("image_count", std::to_string(file.ImageCount()), "imageCount") << ","
      << JsonField("metadata_present", file.MetadataPresent() ? "true" : "false", "metadataPresent")
      << ",\"images\":[";
  for (int k = 0; k < vel::kImageSlots && file.Chain(k) != nullptr; ++k) {
    const vel::FirmwareInfo& info = file.Info(k);
    const vel::VelMemMap& map = file.GetMemMap(k);
    out << (k ? "," : "") << "{\"slot\":" << k << ","
        << JsonField("device_type", JsonString(info.deviceType), "deviceType") << ","
        << JsonField("display_name", JsonString(vel::DisplayName(info.deviceType)), "displayName")
        << "," << JsonField("firmware_version", JsonString(info.firmwareVersion), "firmwareVersion")
        << ","
        << JsonField("firmware_version_text",
                     JsonString(vel::FormatFirmwareVersion(info.firmwareVersion)),
                     "firmwareVersionText")
        << ","
        << JsonField("hardware_versions", JsonList(info.hardwareVersions), "hardwareVersions")
        << "," << JsonField("record_count", std::to_string(file.RecordCount(k)), "recordCount")
        << "," << JsonField("top_segment", std::to_string(int{map.TopSegment()}), "topSegment")
        << "," << JsonField("top_address", std::to_string(map.TopAddress()), "topAddress") << "}";
  }
  const vel::SharedMetadata& shared = file.Shared();
  std::string auxiliary = "[";
  for (int n = 0; n < vel::kAuxiliaryVersionCount; ++n) {
    const std::string& v = shared.auxiliaryVersions[n];
    auxiliary += (n ? "," : "") + (vel::IsUnset(v) ? std::string("null") : JsonString(v));
  }
  out << "]," << JsonField("auxiliary_versions", auxiliary + "]", "auxiliaryVersions") << ","
      << JsonField("display_lines", JsonList(shared.displayLines), "displayLines") << "}\n";
}

const char* RecordTypeName(std::uint8_t type) {
  static constexpr const char* kNames[] = {"Data Record",
                                           "End of File Record",
                                           "Ext. Segment Address Record",
                                           "Start Segment Address Record",
                                           "Ext. Linear Address Record",
                                           "Start Linear Address Record"};
  return type < 6 ? kNames[type] : "";
}

// The record view's data display: each two-character piece followed by a blank.
std::string DataPieces(const vel::VelHexRec& record) {
  std::string out;
  const std::string_view data = record.Data();
  for (std::size_t i = 0; i < record.ByteCount() && 2 * i + 2 <= data.size(); ++i) {
    out += data.substr(2 * i, 2);
    out += ' ';
  }
  return out;
}

}  // namespace

int InfoCommand(const std::vector<std::string>& words, Streams io) {
  Args args;
  if (auto exit = ParseCommand(words, kInfoUsage, {}, {"json"}, 1, io, &args)) return *exit;
  vel::FirmwareFile file;
  if (int rc = Load(args.Positional()[0], file, io)) return rc;
  if (args.Has("json")) {
    PrintInfoJson(file, io.out);
  } else {
    PrintInfoText(file, io.out);
  }
  return kExitOk;
}

int TestCommand(const std::vector<std::string>& words, Streams io) {
  Args args;
  if (auto exit = ParseCommand(words, kTestUsage, {}, {}, 1, io, &args)) return *exit;
  vel::FirmwareFile file;
  if (int rc = Load(args.Positional()[0], file, io)) return rc;
  TerminalProgress progress(io.err, io.errIsTerminal);
  const vel::HexTestOutcome outcome = file.TestHexFile(&progress);
  for (int id : vel::HexTestMessageIds(outcome)) io.out << vel::LoadString(id) << "\n";
  if (const auto defect = file.FirstDefect(); outcome == vel::HexTestOutcome::kFailed && defect) {
    io.out << vel::DescribeDefect(*defect) << "\n";
  }
  return outcome == vel::HexTestOutcome::kPassed ? kExitOk : kExitNegative;
}

int RecordsCommand(const std::vector<std::string>& words, Streams io) {
  Args args;
  if (auto exit = ParseCommand(words, kRecordsUsage, {"from", "count"}, {}, 1, io, &args)) {
    return *exit;
  }
  const auto from = ParseNumber(args.Value("from", "1"), 1, INT32_MAX, 10);
  const auto count = ParseNumber(args.Value("count", std::to_string(INT32_MAX)), 0, INT32_MAX, 10);
  if (!from) return Usage(io, kRecordsUsage, "--from takes a record number from 1");
  if (!count) return Usage(io, kRecordsUsage, "--count takes a number");
  vel::FirmwareFile file;
  if (int rc = Load(args.Positional()[0], file, io)) return rc;
  const vel::VelHexFile* node = file.Chain(0)->FindRecord(static_cast<std::int32_t>(*from));
  if (node == nullptr) {
    io.err << "zandor: the file has " << file.RecordCount(0) << " records; there is no record "
           << *from << "\n";
    return kExitNegative;
  }
  io.out << "Record  Type                          Length  Address  Checksum  Data\n";
  for (long long shown = 0; node != nullptr && shown < *count; ++shown, node = node->GetNext()) {
    const vel::VelHexRec& r = node->GetRecord();
    char line[96];
    std::snprintf(line, sizeof line, "%6d  %-28s  0x%02X    0x%04X   0x%02X      ",
                  node->RecordNumber(), RecordTypeName(r.Type()), r.ByteCount(), r.Address(),
                  r.Checksum());
    io.out << line << Printable(DataPieces(r), true) << "\n";
  }
  return kExitOk;
}

int MemoryCommand(const std::vector<std::string>& words, Streams io) {
  Args args;
  if (auto exit = ParseCommand(words, kMemoryUsage, {"image", "segment", "page", "binary"}, {}, 1,
                               io, &args)) {
    return *exit;
  }
  if (!args.Has("segment")) return Usage(io, kMemoryUsage, "--segment is required");
  const auto image = ParseNumber(args.Value("image", "0"), 0, vel::kImageSlots - 1, 10);
  const auto segment = ParseNumber(args.Value("segment"), 0, 255, 16);
  const auto page = ParseNumber(args.Value("page", "00"), 0, 255, 16);
  if (!image) return Usage(io, kMemoryUsage, "--image takes a slot from 0 to 9");
  if (!segment) return Usage(io, kMemoryUsage, "--segment takes two hexadecimal digits (00-FF)");
  if (!page) return Usage(io, kMemoryUsage, "--page takes two hexadecimal digits (00-FF)");
  if (args.Has("binary") && args.Value("binary") != "-") {
    const std::string clash = vel::OutputClash({{args.Positional()[0], "the firmware file"}},
                                               {{args.Value("binary"), "--binary"}});
    if (!clash.empty()) {
      io.err << Printable("zandor: " + clash + "; nothing was written", true) << "\n";
      return kExitFileError;
    }
  }
  vel::FirmwareFile file;
  if (int rc = Load(args.Positional()[0], file, io)) return rc;
  const int slot = static_cast<int>(*image);
  if (file.Chain(slot) == nullptr) {
    io.err << "zandor: the file has no image " << slot << "\n";
    return kExitNegative;
  }
  TerminalProgress progress(io.err, io.errIsTerminal);
  const bool shown = progress.BeginProgress(1, file.RecordCount(slot),
                                            vel::LoadString(vel::ids::kCreatingMemMap), 1);
  const vel::VelMemMap& map = file.GetMemMap(slot, shown ? &progress : nullptr);
  if (shown) progress.EndProgress();
  const auto seg = static_cast<std::uint8_t>(*segment);
  const vel::VelSegment* data = map.Segment(seg);
  // A segment the file does not use reads erased, as the warning says and the memory view shows.
  vel::VelSegment erased;
  if (data == nullptr) {
    io.err << vel::text::kSegmentNotUsed << "\n";
    data = &erased;
  }
  if (args.Has("binary")) {
    const std::string_view bytes(reinterpret_cast<const char*>(data->bytes.data()),
                                 data->bytes.size());
    if (args.Value("binary") == "-") {
      io.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      io.out.flush();
      return io.out ? kExitOk : kExitFileError;
    }
    const auto waiting = [&] {
      io.err << "zandor: waiting for a reader of " << Printable(args.Value("binary"), true)
             << std::endl;
    };
    const vel::Result written = [&] {
      const auto committing = vel::HoldCommits(io.fileCommits);
      return vel::WriteIntoPath(args.Value("binary"), bytes, 0644,
                                {io.interrupt, std::chrono::milliseconds::max(), waiting});
    }();
    if (!written) {
      io.err << Printable("zandor: cannot write " + args.Value("binary") + ": " + written.error(),
                          true)
             << "\n";
      return kExitFileError;
    }
    return kExitOk;
  }
  const std::uint8_t* bytes = data->bytes.data() + vel::kPageSize * static_cast<std::size_t>(*page);
  io.out << "Address:\t0x00\t0x01\t0x02\t0x03\t0x04\t0x05\t0x06\t0x07\t0x08\t0x09\t0x0A\t0x0B\t"
            "0x0C\t0x0D\t0x0E\t0x0F\n";
  for (int row = 0; row < 16; ++row) {
    io.out << "0x" << Hex(seg, 2) << Hex(static_cast<unsigned>(*page), 2) << Hex(16 * row, 2);
    for (int col = 0; col < 16; ++col) io.out << '\t' << Hex(bytes[16 * row + col], 2);
    io.out << "\n";
  }
  return kExitOk;
}

}  // namespace zandor
