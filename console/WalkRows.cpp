#include "WalkRows.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/PortNames.h"

namespace zandorui {

WalkRows::WalkRows(std::vector<std::size_t> rows, bool sideBySide)
    : order_(std::move(rows)), sideBySide_(sideBySide) {
  for (std::size_t row : order_) views_[row];
}

const RowView* WalkRows::Find(std::size_t row) const {
  const auto found = views_.find(row);
  return found == views_.end() ? nullptr : &found->second;
}

bool WalkRows::Apply(const vel::JobEvent& event) {
  using Kind = vel::JobEvent::Kind;
  const auto found = views_.find(event.row);
  if (found == views_.end()) return false;
  RowView& view = found->second;
  switch (event.kind()) {
    case Kind::kRowBegun:
      view = RowView{};
      view.begun = true;
      view.status = event.As<vel::job::RowBegun>().text;
      if (!panelRow_ || Find(*panelRow_)->finished || !Find(*panelRow_)->begun) {
        panelRow_ = event.row;
      }
      break;
    case Kind::kProgress: {
      const auto& progress = event.As<vel::job::Progress>();
      view.progressActive = true;
      view.low = progress.low;
      view.high = std::max(progress.low, progress.high);
      view.position = std::clamp(progress.position, view.low, view.high);
      view.overallPercent = std::clamp(progress.overallPercent, 0, 100);
      view.statusLine = progress.text;
      break;
    }
    case Kind::kProgressEnded:
      view.progressActive = false;
      break;
    case Kind::kStatusLine:
      view.statusLine = event.As<vel::job::StatusLine>().text;
      break;
    case Kind::kUnits:
      for (const vel::UnitLabel& unit : event.As<vel::job::Units>().units) {
        const auto same =
            std::find_if(view.units.begin(), view.units.end(),
                         [&](const vel::UnitLabel& u) { return u.unit == unit.unit; });
        if (same != view.units.end()) {
          *same = unit;
        } else {
          view.units.push_back(unit);
        }
      }
      break;
    case Kind::kUnitsHidden:
      view.units.clear();
      break;
    case Kind::kRowFinished: {
      const auto& finished = event.As<vel::job::RowFinished>();
      view.begun = true;
      view.finished = true;
      view.progressActive = false;
      view.succeeded = finished.outcome == vel::Outcome::kSucceeded;
      view.status = finished.text;
      view.outcomeNotes = finished.notes;
      view.finishedUnits = finished.deviceUnits;
      if (panelRow_ == event.row) {
        for (std::size_t row : order_) {
          const RowView& other = views_.at(row);
          if (other.begun && !other.finished) {
            panelRow_ = row;
            break;
          }
        }
      }
      break;
    }
    default:
      break;
  }
  return true;
}

void WalkRows::Drop(std::size_t row) {
  views_.erase(row);
  order_.erase(std::remove(order_.begin(), order_.end(), row), order_.end());
  if (panelRow_ == row) panelRow_.reset();
}

void WalkRows::AddNote(std::size_t row, std::string note) {
  const auto found = views_.find(row);
  if (found != views_.end()) found->second.notes.push_back(std::move(note));
}

std::string WalkRows::StatusText(std::size_t row) const {
  const RowView* view = Find(row);
  if (view == nullptr) return {};
  if (view->finished) {
    std::string text = view->status + view->outcomeNotes;
    for (const std::string& note : view->notes) text += " (" + note + ")";
    return text;
  }
  if (sideBySide_ && view->progressActive) {
    return std::to_string(view->overallPercent) + "% " + view->statusLine;
  }
  return view->status;
}

std::vector<std::size_t> WalkRows::NotReached() const {
  std::vector<std::size_t> rows;
  for (std::size_t row : order_) {
    if (!views_.at(row).begun) rows.push_back(row);
  }
  return rows;
}

std::vector<std::pair<std::size_t, std::string>> WalkRows::OutcomeNotes() const {
  std::vector<std::pair<std::size_t, std::string>> notes;
  for (std::size_t row : order_) {
    const RowView& view = views_.at(row);
    if (view.succeeded && !view.outcomeNotes.empty()) notes.emplace_back(row, view.outcomeNotes);
  }
  return notes;
}

int WalkRows::Succeeded() const {
  return static_cast<int>(std::count_if(views_.begin(), views_.end(),
                                        [](const auto& entry) { return entry.second.succeeded; }));
}

std::string DeviceLabel(const vel::DeviceEntry& row, std::size_t index) {
  const std::string name = row.name.empty() ? "Row " + std::to_string(index + 1) : row.name;
  const std::string where = row.IsSerial() ? "COM" + row.port : row.address + ":" + row.port;
  return name + " (" + where + ")";
}

std::string LinuxHint(const vel::DeviceEntry& row, vel::Outcome outcome) {
  if (row.IsSerial() &&
      (outcome == vel::Outcome::kPortMissing || outcome == vel::Outcome::kPortInUse)) {
    const std::string com = "COM" + row.port;
    const std::string path = vel::PortNameMap::ForThisUser().Resolve(com);
    if (outcome == vel::Outcome::kPortMissing) {
      return com + " leads to " + (path.empty() ? std::string("no device") : path) +
             ", which does not exist: map " + com +
             " to this machine's serial device with "
             "\"COM Ports...\" in the form's menu (saved in " +
             vel::PortMapFilePath() + ")";
    }
    if (!path.empty() && access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
      return "permission denied on " + path +
             ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in "
             "again";
    }
    return path + " is in use by another program";
  }
  return {};
}

}  // namespace zandorui
