#include "MemoryView.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <optional>

#include "../widgets/AppStyle.h"
#include "common/Strings.h"

namespace zandorui {

namespace {

constexpr int kRows = 16;
const QString kErasedSegment = QStringLiteral("XX");

QString Hex2(unsigned value) {
  return QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// A box's hexadecimal number (its last two characters); nothing when it holds none.
std::optional<std::uint8_t> HexOf(const QString& text) {
  bool ok = false;
  const unsigned value = text.right(2).trimmed().toUInt(&ok, 16);
  if (!ok) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

}  // namespace

void HexSpinBox::ShowInstead(const QString& text) {
  if (text == instead_) return;
  instead_ = text;
  lineEdit()->setText(textFromValue(value()));
}

QString HexSpinBox::textFromValue(int value) const {
  return instead_.isEmpty() ? Hex2(static_cast<unsigned>(value)) : instead_;
}

int HexSpinBox::valueFromText(const QString& text) const {
  if (!instead_.isEmpty() && text == instead_) return value();
  return text.toInt(nullptr, 16);
}

QValidator::State HexSpinBox::validate(QString& text, int&) const {
  if (text.isEmpty()) return QValidator::Intermediate;
  if (!instead_.isEmpty() && text == instead_) return QValidator::Acceptable;
  bool ok = false;
  const int value = text.toInt(&ok, 16);
  return ok && text.size() <= 2 && value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                                            : QValidator::Invalid;
}

void HexSpinBox::stepBy(int steps) {
  instead_.clear();  // a step shows the number it reached
  QSpinBox::stepBy(steps);
}

MemoryView::MemoryView(const vel::VelMemMap& map, const QString& fileName, bool toolTips,
                       QWidget* parent)
    : QDialog(parent), map_(map) {
  setObjectName(QStringLiteral("memoryView"));
  setWindowFlag(Qt::Window);
  setModal(false);
  setWindowTitle(QStringLiteral("View Memory Map"));
  BuildLayout(toolTips);
  ShowPage(255, 0);
  setWindowTitle(QStringLiteral("Memory View - ") + fileName);
}

void MemoryView::BuildLayout(bool toolTips) {
  auto* layout = new QVBoxLayout(this);
  const auto named = [toolTips](auto* control, int id) { return Numbered(control, id, toolTips); };
  auto* frame = new QGroupBox(QStringLiteral("Memory View"));
  auto* frameLayout = new QHBoxLayout(frame);
  table_ = named(new QTableWidget(kRows, 16), 1026);
  QStringList columns;
  for (int c = 0; c < 16; ++c)
    columns.append(QStringLiteral("0x") + Hex2(static_cast<unsigned>(c)));
  table_->setHorizontalHeaderLabels(columns);
  table_->verticalHeader()->setObjectName(ControlName(1027));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  table_->setFont(QFont(QStringLiteral("Liberation Mono")));
  // Fixed sizes: measuring the contents again for every page costs more than the page itself.
  const QFontMetrics metrics(table_->font());
  const int cellWidth = metrics.horizontalAdvance(QStringLiteral("0x00")) + 12;
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->horizontalHeader()->setDefaultSectionSize(cellWidth);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
  table_->verticalHeader()->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("0xWW0000")) +
                                          16);
  table_->setMinimumSize(
      table_->verticalHeader()->width() + 16 * cellWidth + 4,
      table_->horizontalHeader()->sizeHint().height() + 16 * (metrics.height() + 6) + 4);
  for (int r = 0; r < kRows; ++r) {
    table_->setVerticalHeaderItem(r, new QTableWidgetItem);
    for (int c = 0; c < 16; ++c) {
      auto* cell = new QTableWidgetItem;
      cell->setTextAlignment(Qt::AlignCenter);
      table_->setItem(r, c, cell);
    }
  }
  scroll_ = named(new QScrollBar(Qt::Vertical), 1029);
  scroll_->setRange(0, 255);
  scroll_->setPageStep(16);
  connect(scroll_, &QScrollBar::valueChanged, this, &MemoryView::Scrolled);
  connect(scroll_, &QScrollBar::sliderReleased, this, [this] { Scrolled(scroll_->value()); });
  frameLayout->addWidget(table_, 1);
  frameLayout->addWidget(scroll_);
  layout->addWidget(frame, 1);

  auto* jump = new QGroupBox(QStringLiteral("Quick Jump"));
  auto* jumpLayout = new QHBoxLayout(jump);
  const auto box = [&](int id) {
    auto* edit = named(new QLineEdit, id);
    edit->setMaxLength(2);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 16);
    return edit;
  };
  const auto spin = [&](int id) {
    auto* s = named(new HexSpinBox, id);
    s->setRange(0, 255);
    s->setDisplayIntegerBase(16);
    s->setWrapping(true);
    s->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    s->setFixedWidth(s->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 40);
    return s;
  };
  auto* goTo = named(new QPushButton(QStringLiteral("Go To")), 1028);
  connect(goTo, &QPushButton::clicked, this, &MemoryView::GoTo);
  segmentBox_ = box(1030);
  segmentSpin_ = spin(1031);
  pageBox_ = box(1020);
  pageSpin_ = spin(1018);
  connect(segmentSpin_, &QSpinBox::valueChanged, this, &MemoryView::SegmentSpun);
  connect(pageSpin_, &QSpinBox::valueChanged, this, &MemoryView::PageSpun);
  jumpLayout->addWidget(goTo);
  jumpLayout->addWidget(new QLabel(QStringLiteral("Segment:   0x")));
  jumpLayout->addWidget(segmentBox_);
  jumpLayout->addWidget(segmentSpin_);
  jumpLayout->addWidget(new QLabel(QStringLiteral("Page:   0x")));
  jumpLayout->addWidget(pageBox_);
  jumpLayout->addWidget(pageSpin_);
  jumpLayout->addStretch();
  auto* done = new QDialogButtonBox;
  done->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole)
      ->setObjectName(ControlName(1));
  connect(done, &QDialogButtonBox::accepted, this, &QDialog::hide);
  jumpLayout->addWidget(done);
  layout->addWidget(jump);
}

void MemoryView::ShowPage(std::uint8_t segment, std::uint8_t page) {
  if ((page != page_ || segment != segment_) && segmentText_ != kErasedSegment) {
    segment_ = segment;
    const std::uint8_t* bytes = map_.GetPage(segment, page);
    grid_.clear();
    if (bytes != nullptr) {
      for (int i = 0; i < 256; ++i) {
        grid_ += Hex2(bytes[i]);
        grid_ += (i % 16 == 15) ? QLatin1Char('\n') : QLatin1Char('\t');
      }
    } else {
      WarnUnusedSegment();
      segmentText_ = kErasedSegment;
      for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < 16; ++c)
          grid_ += c == 15 ? QStringLiteral("  FF\n") : QStringLiteral("  FF\t");
      }
    }
  }
  page_ = page;
  Refresh();
}

void MemoryView::WarnUnusedSegment() {
  // The warning stands over the view: before the view is shown, it waits for it.
  if (!isVisible()) {
    warningPending_ = true;
    return;
  }
  QMessageBox::warning(this, windowTitle(), Qs(vel::text::kSegmentNotUsed));
}

void MemoryView::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!warningPending_) return;
  warningPending_ = false;
  QTimer::singleShot(0, this, &MemoryView::WarnUnusedSegment);
}

QString MemoryView::AddressText() const {
  QString text;
  for (int i = 0; i < kRows; ++i) {
    text += QStringLiteral("0x") +
            (segmentText_ + pageText_ + Hex2(static_cast<unsigned>(16 * i))).toUpper() +
            QLatin1Char('\n');
  }
  return text;
}

void MemoryView::Refresh() {
  const QStringList rows = grid_.split(QLatin1Char('\n'));
  const QStringList addresses = AddressText().split(QLatin1Char('\n'));
  for (int r = 0; r < kRows; ++r) {
    const QStringList bytes = rows.value(r).split(QLatin1Char('\t'));
    for (int c = 0; c < 16; ++c) table_->item(r, c)->setText(bytes.value(c).trimmed());
    table_->verticalHeaderItem(r)->setText(addresses.value(r));
  }
  segmentBox_->setText(segmentText_);
  pageBox_->setText(pageText_);
  const QSignalBlocker segmentQuiet(segmentSpin_);
  const QSignalBlocker pageQuiet(pageSpin_);
  segmentSpin_->setValue(segment_);
  pageSpin_->setValue(page_);
  // An erased segment reads "XX" in the spin as in the box; its arrows step from the segment.
  segmentSpin_->ShowInstead(segmentText_ == kErasedSegment ? kErasedSegment : QString());
}

void MemoryView::SetPageText(std::uint8_t page) { pageText_ = Hex2(page); }

void MemoryView::GoTo() {
  const QString segmentText = segmentBox_->text().right(2);
  const QString pageText = pageBox_->text().right(2);
  const auto page = HexOf(pageText);
  if (!page) {
    QMessageBox::information(
        this, windowTitle(),
        QStringLiteral("The page number is not a valid hexadecimal number.\n  Please try again."));
    return;
  }
  std::uint8_t segment = segment_;
  const bool leavingErased = segmentText_ == kErasedSegment && segmentText != kErasedSegment;
  if (segmentText != kErasedSegment) {
    const auto typed = HexOf(segmentText);
    if (!typed) {
      QMessageBox::information(
          this, windowTitle(),
          QStringLiteral(
              "The segment number is not a valid hexadecimal number.\n  Please try again."));
      return;
    }
    segment = *typed;
    segmentText_ = Hex2(segment);  // a typed number leaves the erased state
  }
  pageText_ = Hex2(*page);
  {
    const QSignalBlocker quiet(scroll_);
    scroll_->setValue(*page);
  }
  // A segment typed over "XX" is read again, even on the page shown.
  if (leavingErased) page_ = static_cast<std::uint8_t>(*page + 1);
  ShowPage(segment, *page);
}

void MemoryView::SegmentSpun(int value) {
  segmentText_ = Hex2(static_cast<unsigned>(value));
  segmentBox_->setText(segmentText_);
  pageBox_->setText(pageText_);
  GoTo();
}

void MemoryView::PageSpun(int value) {
  const auto page = static_cast<std::uint8_t>(value);
  SetPageText(page);
  {
    const QSignalBlocker quiet(scroll_);
    scroll_->setValue(page);
  }
  ShowPage(segment_, page);
}

void MemoryView::Scrolled(int value) {
  SetPageText(static_cast<std::uint8_t>(value));
  if (scroll_->isSliderDown()) {  // dragging only previews the page number
    pageBox_->setText(pageText_);
    return;
  }
  ShowPage(segment_, static_cast<std::uint8_t>(value));
}

}  // namespace zandorui
