#include "DeviceListCommand.h"

#include <cstdio>

#include "Args.h"
#include "Json.h"
#include "Printable.h"
#include "common/AtomicFile.h"
#include "devices/DeviceList.h"
#include "devices/KeyMask.h"
#include "link/KeyText.h"

namespace zandor {

namespace {

constexpr const char* kUsage =
    "usage: zandor devices [--list FILE] COMMAND\n"
    "  list [--json] [--show-keys]              the rows (keys shown as <key> unless asked)\n"
    "  add [--name N] [--address serial|IPv4] [--port P] [--key KEY]\n"
    "  set ROW [--name N] [--address A] [--port P] [--key KEY]\n"
    "  remove ROW...                            ROW counts from 1\n"
    "FILE defaults to KestaLST.txt in the current folder. KEY: 32 hexadecimal digits, 16\n"
    "dash-separated pairs or \"<Default No Encryption>\".\n";

// A row's cells as `devices list` shows them: without --show-keys the Key cell is "<key>" (unless
// it holds the no-encryption marker) and the other cells are masked with the list's keys and the
// shape rule, for a key pasted into the wrong cell.
class ShownCells {
 public:
  ShownCells(const vel::DeviceList& list, bool showKeys)
      : showKeys_(showKeys), mask_(showKeys ? vel::KeyMask() : vel::ListKeyMask(list)) {}
  std::string Cell(const std::string& text) const { return showKeys_ ? text : mask_(text); }
  std::string Key(const std::string& key) const {
    // An empty cell (a row cut before its key) holds no key to hide.
    return key == vel::kNoEncryption || key.empty() || showKeys_ ? key : "<key>";
  }

 private:
  bool showKeys_;
  vel::KeyMask mask_;
};

// Applies --name/--address/--port/--key to a row.
vel::Result ApplyCells(const Args& args, vel::DeviceList& list, std::size_t row) {
  struct Cell {
    const char* option;
    vel::DeviceColumn column;
  };
  for (const Cell& cell :
       {Cell{"name", vel::DeviceColumn::kName}, Cell{"address", vel::DeviceColumn::kAddress},
        Cell{"port", vel::DeviceColumn::kPort}, Cell{"key", vel::DeviceColumn::kKey}}) {
    if (!args.Has(cell.option)) continue;
    std::string text = args.Value(cell.option);
    if (cell.column == vel::DeviceColumn::kAddress && text == "serial") text = vel::kDefaultSerial;
    if (cell.column == vel::DeviceColumn::kKey && text != vel::kNoEncryption) {
      // The list keeps keys dashed; 32 digits, as a target takes them, are the same key.
      const auto dashed = vel::DashedKey(text);
      if (!dashed) {
        return vel::Result::Failed(
            "--key takes 32 hexadecimal digits or 16 dash-separated pairs (00-11-...-FF)");
      }
      text = *dashed;
    }
    if (vel::Result set = list.SetCell(row, cell.column, text); !set) return set;
  }
  return vel::Result::Done();
}

// The list's lock, waited for while the run is not stopped and for kListLockWaitLimit at most;
// a failure (said on `io.err`) when it was not taken.
vel::Expected<vel::DeviceListLock> LockForEdit(const std::string& path, Streams io) {
  const auto waiting = [&] {
    io.err << "zandor: waiting for the lock on " << Printable(path, true) << std::endl;
  };
  auto lock = vel::DeviceListLock::Acquire(path, {io.interrupt, vel::kListLockWaitLimit, waiting});
  if (!lock) io.err << Printable("zandor: cannot lock " + path + ": " + lock.error(), true) << "\n";
  return lock;
}

}  // namespace

bool LoadList(const std::string& path, vel::DeviceList& list, Streams io,
              vel::DeviceList::IfMissing ifMissing, ReadNotes notes) {
  if (const vel::Result loaded = list.Load(path, ifMissing); !loaded) {
    io.err << Printable("zandor: cannot read " + path + ": " + loaded.error(), true) << "\n";
    return false;
  }
  if (notes == ReadNotes::kLeaveToTheWrite) return true;
  const vel::KeyMask mask = vel::ListKeyMask(list);
  for (const std::string& note : list.ReadNotes()) {
    io.err << Printable("zandor: " + path + ": " + mask(note), true) << "\n";
  }
  return true;
}

int DevicesCommand(const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, {"list", "name", "address", "port", "key"},
                                {"json", "show-keys", "help"}, &error);
  const auto usageError = [&](const std::string& problem) {
    return ShowUsageError(io.err, Printable(vel::MaskKeys(problem), true), kUsage);
  };
  if (!args) return usageError(error);
  if (args->Has("help")) {
    io.out << kUsage;
    return kExitOk;
  }
  const std::vector<std::string>& positional = args->Positional();
  if (positional.empty()) return usageError("missing COMMAND");
  const std::string path = args->Value("list", vel::kDeviceListFileName);
  const std::string& command = positional[0];
  // Every read-modify-write of the list holds its lock, so concurrent edits all land; a list is
  // only ever replaced whole, so reading it needs no lock (nor a folder it may write in).
  const bool edits = command != "list";
  std::optional<vel::DeviceListLock> lock;
  if (edits) {
    auto taken = LockForEdit(path, io);
    if (!taken) return kExitFileError;
    lock.emplace(std::move(*taken));
  }
  // Only a new row may start a list; every other command needs the list to be there.
  vel::DeviceList list;
  const auto ifMissing = command == "add" ? vel::DeviceList::IfMissing::kEmptyList
                                          : vel::DeviceList::IfMissing::kRefuse;
  // An edit that leaves a row unread is refused by the write, naming the row; one that sets or
  // removes it needs no word about it.
  if (!LoadList(path, list, io, ifMissing,
                edits ? ReadNotes::kLeaveToTheWrite : ReadNotes::kTell)) {
    return kExitFileError;
  }
  const auto rowNumber = [&](const std::string& text) {
    return ParseNumber(text, 1, static_cast<long long>(list.Count()), 10);
  };

  if (command == "list") {
    const ShownCells shown(list, args->Has("show-keys"));
    if (args->Has("json")) {
      io.out << "[";
      for (std::size_t r = 0; r < list.Count(); ++r) {
        const vel::DeviceEntry& e = list.Row(r);
        io.out << (r ? "," : "") << "{\"row\":" << r + 1
               << ",\"name\":" << JsonString(shown.Cell(e.name))
               << ",\"address\":" << JsonString(shown.Cell(e.address))
               << ",\"port\":" << JsonString(shown.Cell(e.port))
               << ",\"key\":" << JsonString(shown.Key(e.key)) << "}";
      }
      io.out << "]\n";
      return kExitOk;
    }
    for (std::size_t r = 0; r < list.Count(); ++r) {
      const vel::DeviceEntry& e = list.Row(r);
      char line[64];
      std::snprintf(line, sizeof line, "%4zu  ", r + 1);
      io.out << line
             << Printable(shown.Cell(e.name) + "  " + shown.Cell(e.address) + "  " +
                              shown.Cell(e.port) + "  " + shown.Key(e.key),
                          true)
             << "\n";
    }
    return kExitOk;
  }
  if (command == "add" || command == "set") {
    std::size_t row = 0;
    if (command == "add") {
      if (positional.size() != 1) return usageError("add takes options only");
      row = list.AddDevice();
    } else {
      const auto number = positional.size() == 2 ? rowNumber(positional[1]) : std::nullopt;
      if (!number) return usageError("set takes one ROW from 1 to " + std::to_string(list.Count()));
      row = static_cast<std::size_t>(*number - 1);
    }
    vel::Result edited = ApplyCells(*args, list, row);
    if (edited) edited = vel::IsUsableRow(list.Row(row));
    if (!edited) {
      // The refused cell may be a key pasted into the wrong one.
      io.err << "zandor: " << Printable(vel::ListKeyMask(list)(edited.error()), true) << "\n";
      return kExitNegative;
    }
  } else if (command == "remove") {
    if (positional.size() < 2) return usageError("remove takes ROW numbers");
    for (std::size_t i = 1; i < positional.size(); ++i) {
      const auto number = rowNumber(positional[i]);
      if (!number) return usageError("no row " + positional[i]);
      list.SetChecked(static_cast<std::size_t>(*number - 1), true);
    }
    list.DeleteCheckedDevices();
  } else {
    return usageError("unknown devices command " + command);
  }
  const vel::Result saved = [&] {
    const auto committing = vel::HoldCommits(io.fileCommits);
    return list.Save(path);
  }();
  if (!saved) {
    io.err << Printable("zandor: cannot write " + path + ": " + saved.error(), true) << "\n";
    return kExitFileError;
  }
  return kExitOk;
}

}  // namespace zandor
