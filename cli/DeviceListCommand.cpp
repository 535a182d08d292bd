#include "DeviceListCommand.h"

#include <cstdio>

#include "Args.h"
#include "Json.h"
#include "Printable.h"
#include "devices/DeviceList.h"

namespace zandor {

namespace {

constexpr const char* kUsage =
    "usage: zandor devices [--list FILE] COMMAND\n"
    "  list [--json] [--show-keys]              the rows (keys shown as <key> unless asked)\n"
    "  add [--name N] [--address serial|IPv4] [--port P] [--key KEY]\n"
    "  set ROW [--name N] [--address A] [--port P] [--key KEY]\n"
    "  remove ROW...                            ROW counts from 1\n"
    "FILE defaults to KestaLST.txt in the current folder. KEY: 16 dash-separated pairs or\n"
    "\"<Default No Encryption>\".\n";

std::string ShownKey(const std::string& key, bool showKeys) {
  return key == vel::kNoEncryption || showKeys ? key : "<key>";
}

// Applies --name/--address/--port/--key to a row; false with *error set.
bool ApplyCells(const Args& args, vel::DeviceList& list, std::size_t row, std::string* error) {
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
    if (!list.SetCell(row, cell.column, text, error)) return false;
  }
  return true;
}

// The list's lock, waited for while the run is not stopped and for kListLockWaitLimit at most;
// nothing (and why, on `io.err`) when it was not taken.
std::optional<vel::DeviceListLock> LockForEdit(const std::string& path, Streams io) {
  const auto waiting = [&] {
    io.err << "zandor: waiting for the lock on " << Printable(path, true) << std::endl;
  };
  std::string error;
  auto lock =
      vel::DeviceListLock::Acquire(path, &error, {io.interrupt, vel::kListLockWaitLimit, waiting});
  if (!lock) io.err << Printable("zandor: cannot lock " + path + ": " + error, true) << "\n";
  return lock;
}

}  // namespace

bool LoadList(const std::string& path, vel::DeviceList& list, Streams io) {
  std::string error;
  if (!list.Load(path, &error)) {
    io.err << Printable("zandor: cannot read " + path + ": " + error, true) << "\n";
    return false;
  }
  for (const std::string& note : list.ReadNotes()) {
    io.err << Printable("zandor: " + path + ": " + note, true) << "\n";
  }
  return true;
}

int DevicesCommand(const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, {"list", "name", "address", "port", "key"},
                                {"json", "show-keys", "help"}, &error);
  const auto usageError = [&](const std::string& problem) {
    io.err << "zandor: " << Printable(problem, true) << "\n" << kUsage;
    return kExitUsage;
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
  const auto lock = edits ? LockForEdit(path, io) : std::nullopt;
  if (edits && !lock) return kExitFileError;
  vel::DeviceList list;
  if (!LoadList(path, list, io)) return kExitFileError;
  const auto rowNumber = [&](const std::string& text) {
    return ParseNumber(text, 1, static_cast<long long>(list.Count()), 10);
  };

  if (command == "list") {
    const bool showKeys = args->Has("show-keys");
    if (args->Has("json")) {
      io.out << "[";
      for (std::size_t r = 0; r < list.Count(); ++r) {
        const vel::DeviceEntry& e = list.Row(r);
        io.out << (r ? "," : "") << "{\"row\":" << r + 1 << ",\"name\":" << JsonString(e.name)
               << ",\"address\":" << JsonString(e.address) << ",\"port\":" << JsonString(e.port)
               << ",\"key\":" << JsonString(ShownKey(e.key, showKeys)) << "}";
      }
      io.out << "]\n";
      return kExitOk;
    }
    for (std::size_t r = 0; r < list.Count(); ++r) {
      const vel::DeviceEntry& e = list.Row(r);
      char line[64];
      std::snprintf(line, sizeof line, "%4zu  ", r + 1);
      io.out << line
             << Printable(
                    e.name + "  " + e.address + "  " + e.port + "  " + ShownKey(e.key, showKeys),
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
    if (!ApplyCells(*args, list, row, &error) || !vel::IsUsableRow(list.Row(row), &error)) {
      io.err << "zandor: " << Printable(error, true) << "\n";
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
  if (!list.Save(path, &error)) {
    io.err << Printable("zandor: cannot write " + path + ": " + error, true) << "\n";
    return kExitFileError;
  }
  return kExitOk;
}

}  // namespace zandor
