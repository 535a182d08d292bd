#pragma once

#include <QDialog>
#include <QSpinBox>
#include <cstdint>

#include "image/VelMemMap.h"

class QLineEdit;
class QScrollBar;
class QTableWidget;

namespace zandorui {

// "Memory View": the memory picture the file's first image gives the device, one 256-byte page at
// a time as 16 rows of 16 bytes, chosen by segment and page. A segment the file does not use
// shows as erased, with "XX" in the segment box. Modeless; "Done" hides it.
// A spin box of two upper-case hexadecimal digits, as the boxes beside it show numbers. It can
// show a text in place of its number (the erased segment's "XX") and still step from the number.
class HexSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  using QSpinBox::QSpinBox;
  // Shows `text` until the arrows step; an empty text shows the number again.
  void ShowInstead(const QString& text);

 protected:
  QString textFromValue(int value) const override;
  int valueFromText(const QString& text) const override;
  QValidator::State validate(QString& text, int& position) const override;
  void stepBy(int steps) override;

 private:
  QString instead_;
};

class MemoryView : public QDialog {
  Q_OBJECT
 public:
  MemoryView(const vel::VelMemMap& map, const QString& fileName, bool toolTips,
             QWidget* parent = nullptr);

  void ShowPage(std::uint8_t segment, std::uint8_t page);
  // "Go To": the page (and segment) the boxes hold, with a message for a box that is no number.
  void GoTo();
  // The page shown, as its grid text: 16 lines of 16 tab-separated bytes.
  const QString& GridText() const { return grid_; }
  QString AddressText() const;
  std::uint8_t CurrentPage() const { return page_; }
  std::uint8_t CurrentSegment() const { return segment_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildLayout(bool toolTips);
  void WarnUnusedSegment();
  void Refresh();
  void SegmentSpun(int value);
  void PageSpun(int value);
  void Scrolled(int value);
  void SetPageText(std::uint8_t page);

  const vel::VelMemMap& map_;
  std::uint8_t page_ = 1;
  std::uint8_t segment_ = 255;
  QString grid_;
  QString segmentText_ = QStringLiteral("FF");
  QString pageText_ = QStringLiteral("00");
  QTableWidget* table_ = nullptr;
  QScrollBar* scroll_ = nullptr;
  QLineEdit* segmentBox_ = nullptr;
  QLineEdit* pageBox_ = nullptr;
  HexSpinBox* segmentSpin_ = nullptr;
  HexSpinBox* pageSpin_ = nullptr;
  bool warningPending_ = false;  // the unused-segment warning waits until the view is shown
};

}  // namespace zandorui
