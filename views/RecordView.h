#pragma once

#include <QDialog>

#include "image/FirmwareFile.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSlider;
class QSpinBox;

namespace zandorui {

// "Record View": the records of the file's first image one at a time (type, length, address,
// checksum, data), chosen with a slider, a spin or a selector that keeps the eleven numbers shown
// last. Modeless; "Done" hides it. It reads the file it was opened on, so a load closes it first.
class RecordView : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kSelectorHistory = 11;
  static constexpr int kSliderTickRecords = 50;

  RecordView(const vel::FirmwareFile& file, bool toolTips, QWidget* parent = nullptr);

  void ShowRecordNumber(int number);
  // "Refresh Record": the selector's number, bounded, with a message when it was out of range.
  void Refresh();
  int ShownRecord() const;
  QStringList SelectorHistory() const;

 private:
  void BuildLayout(bool toolTips);
  void Display();
  void SpinPressed(int position);
  void SelectorClosed(int index);
  void Message(const QString& text);

  const vel::FirmwareFile& file_;
  const vel::VelHexFile* node_;
  int recordCount_;
  QComboBox* type_ = nullptr;
  QLineEdit* length_ = nullptr;
  QLineEdit* address_ = nullptr;
  QLineEdit* checksum_ = nullptr;
  QPlainTextEdit* data_ = nullptr;
  QSlider* slider_ = nullptr;
  QComboBox* selector_ = nullptr;
  QSpinBox* spin_ = nullptr;
};

}  // namespace zandorui
