#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "devices/VersionCheck.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zandorui {

// "Zandor Device and File Version Information": the device's units beside the file's images with
// the verdicts, the units to update and the serial number. In an update run it confirms itself
// a few milliseconds after it opens; in a check run it waits for the operator. It works on its
// own copy of the request, so it may stay open after the row it is about has ended.
class VersionDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kSelfConfirmMs = 5;

  explicit VersionDialog(vel::ConfirmationRequest request, QWidget* parent = nullptr);

  // OK's rules: stays open, leaves by Cancel or accepts, with the messages they give.
  void ClickOk();
  // The units, images and serial number as the operator left them.
  vel::DeviceChoices Choices() const { return check_.Choices(); }

 private:
  void BuildLayout();
  void ShowValues();
  void UpdateOkButton();
  void ToggleUnit(int unit);

  vel::ConfirmationRequest request_;
  vel::VersionCheck check_;
  std::array<std::array<QLabel*, 3>, 3> imageLabels_{};
  std::array<std::array<QLabel*, 3>, 4> unitLabels_{};
  std::array<std::array<QCheckBox*, 3>, 4> verdictBoxes_{};
  std::array<QCheckBox*, 4> upgradeBoxes_{};
  QPlainTextEdit* auxiliary_ = nullptr;
  QLineEdit* serial_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace zandorui
