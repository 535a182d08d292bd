#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"

namespace zandorui {

// What the form shows of one row of a walk. Each row's is its own: rows worked on side by side
// never show each other's progress, status line or units.
struct RowView {
  bool begun = false;
  bool finished = false;
  bool succeeded = false;
  std::string status;  // the Status cell
  bool progressActive = false;
  int low = 0, high = 0, position = 0;  // the running operation's bar
  int overallPercent = 0;               // the share of the whole update done
  std::string statusLine;
  std::vector<vel::UnitLabel> units;
  std::vector<vel::FinishedUnit> finishedUnits;  // what the row left on each unit, once it ended
  std::string outcomeNotes;        // the core's: units left out, downgrades, images not sent
  std::vector<std::string> notes;  // said after the outcome: what to check on this machine
};

// The rows of one walk and the row the form's panel (caption, unit rows, status line and
// progress bar) shows: the row begun last, and when it ends while others still run, the first
// of those.
class WalkRows {
 public:
  WalkRows() = default;
  WalkRows(std::vector<std::size_t> rows, bool sideBySide);

  // Applies one event to its row; false for a row the walk does not hold.
  bool Apply(const vel::JobEvent& event);
  // Leaves a row out of the walk (the operator unticked it before the walk came to it).
  void Drop(std::size_t row);
  // Adds a note to a row's outcome.
  void AddNote(std::size_t row, std::string note);

  const RowView* Find(std::size_t row) const;
  const std::vector<std::size_t>& Rows() const { return order_; }
  std::optional<std::size_t> PanelRow() const { return panelRow_; }
  bool SideBySide() const { return sideBySide_; }
  // The Status cell of a row: its outcome with what was left out and its notes, or while it
  // runs side by side, the share of its update done and its status line.
  std::string StatusText(std::size_t row) const;
  // Rows never begun (a cancelled walk does not reach them).
  std::vector<std::size_t> NotReached() const;
  // The rows that ended successfully with something to note (units left out, a downgrade,
  // images not sent), and how `zandor update` says it.
  std::vector<std::pair<std::size_t, std::string>> OutcomeNotes() const;
  int Succeeded() const;

 private:
  std::map<std::size_t, RowView> views_;
  std::vector<std::size_t> order_;
  bool sideBySide_ = false;
  std::optional<std::size_t> panelRow_;
};

// "Hub (127.0.0.1:4001)", "Desk (COM3)": the row a question or message is about.
std::string DeviceLabel(const vel::DeviceEntry& row, std::size_t index);

// What an operator on this machine can do about a row that ended as it did; empty when
// nothing: the device path a COM port tried and where to map it, the dialout group for a
// denied port.
std::string LinuxHint(const vel::DeviceEntry& row, vel::Outcome outcome);

}  // namespace zandorui
