#include "RecordView.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "../widgets/AppStyle.h"

namespace zandorui {

namespace {

const QStringList kRecordTypes{"Data Record",
                               "End of File Record",
                               "Ext. Segment Address Record",
                               "Start Segment Address Record",
                               "Ext. Linear Address Record",
                               "Start Linear Address Record"};

QString Hex(unsigned value, int digits) {
  return QStringLiteral("0x") +
         QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

// The number a box holds; a text that is no number counts as 0.
long long NumberOf(const QString& text) {
  bool ok = false;
  const long long value = text.trimmed().toLongLong(&ok);
  return ok ? value : 0;
}

}  // namespace

RecordView::RecordView(const vel::FirmwareFile& file, bool toolTips, QWidget* parent)
    : QDialog(parent), file_(file), node_(file.Chain(0)), recordCount_(file.RecordCount(0)) {
  setObjectName(QStringLiteral("recordView"));
  setWindowFlag(Qt::Window);
  setModal(false);
  BuildLayout(toolTips);
  setWindowTitle(QStringLiteral("Record View - ") + Qs(file.FileName()));
  Display();
}

void RecordView::BuildLayout(bool toolTips) {
  auto* layout = new QVBoxLayout(this);
  const auto named = [toolTips](auto* control, int id) { return Numbered(control, id, toolTips); };
  const auto field = [&](int id) {
    auto* edit = new QLineEdit;
    edit->setReadOnly(true);
    return named(edit, id);
  };

  auto* record = new QGroupBox(QStringLiteral("Record"));
  auto* form = new QFormLayout(record);
  type_ = named(new QComboBox, 61447);
  type_->addItems(kRecordTypes);
  type_->setEnabled(false);
  length_ = field(1019);
  address_ = field(1029);
  checksum_ = field(1021);
  data_ = named(new QPlainTextEdit, 1025);
  data_->setReadOnly(true);
  data_->setMinimumSize(420, 70);
  form->addRow(type_);
  form->addRow(QStringLiteral("Record Length:"), length_);
  form->addRow(QStringLiteral("Offset Address:"), address_);
  form->addRow(QStringLiteral("Rec. Checksum:"), checksum_);
  form->addRow(QStringLiteral("Data:"), data_);
  layout->addWidget(record);

  auto* browser = new QGroupBox(QStringLiteral("Record Browser"));
  auto* browserLayout = new QVBoxLayout(browser);
  slider_ = named(new QSlider(Qt::Horizontal), 1023);
  slider_->setRange(1, std::max(1, recordCount_));
  slider_->setTickInterval(kSliderTickRecords);
  slider_->setTickPosition(QSlider::TicksBelow);
  browserLayout->addWidget(slider_);
  layout->addWidget(browser);
  // Dragging only previews the number; letting go, or any other move, shows the record.
  connect(slider_, &QSlider::valueChanged, this, [this](int value) {
    if (slider_->isSliderDown()) {
      selector_->setEditText(QString::number(value));
    } else {
      ShowRecordNumber(value);
    }
  });
  connect(slider_, &QSlider::sliderReleased, this, [this] { ShowRecordNumber(slider_->value()); });

  auto* selectorGroup = new QGroupBox(QStringLiteral("Record Selector"));
  auto* selectorLayout = new QHBoxLayout(selectorGroup);
  selector_ = named(new QComboBox, 1016);
  selector_->setEditable(true);
  selector_->setInsertPolicy(QComboBox::NoInsert);
  selector_->insertItem(0, QStringLiteral("1"));
  selector_->setCurrentIndex(0);
  connect(selector_, &QComboBox::activated, this, &RecordView::SelectorClosed);
  spin_ = named(new QSpinBox, 1017);
  spin_->setRange(0, recordCount_ + 1);  // one beyond each end: the rules below bring it back
  spin_->setValue(1);
  connect(spin_, &QSpinBox::valueChanged, this, &RecordView::SpinPressed);
  auto* refresh = named(new QPushButton(QStringLiteral("Refresh Record")), 1024);
  connect(refresh, &QPushButton::clicked, this, &RecordView::Refresh);
  selectorLayout->addWidget(new QLabel(QStringLiteral("Record Number:")));
  selectorLayout->addWidget(selector_, 1);
  selectorLayout->addWidget(spin_);
  selectorLayout->addWidget(refresh);
  layout->addWidget(selectorGroup);

  auto* done = new QDialogButtonBox;
  done->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole)
      ->setObjectName(ControlName(1));
  connect(done, &QDialogButtonBox::accepted, this, &QDialog::hide);
  layout->addWidget(done);
}

void RecordView::Display() {
  if (node_ == nullptr) return;
  const vel::VelHexRec& record = node_->GetRecord();
  type_->setCurrentIndex(record.Type() < kRecordTypes.size() ? record.Type() : -1);
  address_->setText(Hex(record.Address(), 4));
  checksum_->setText(Hex(record.Checksum(), 2));
  length_->setText(Hex(record.ByteCount(), 2));
  // Every data byte, as the file wrote it, each followed by a blank (a record of up to 255).
  const std::string_view data = record.Data();
  QString text;
  text.reserve(record.ByteCount() * 3);
  for (std::size_t b = 0; b < record.ByteCount() && 2 * b + 2 <= data.size(); ++b) {
    text += QString::fromLatin1(data.data() + 2 * b, 2);
    text += QLatin1Char(' ');
  }
  data_->setPlainText(text);
}

int RecordView::ShownRecord() const { return node_ != nullptr ? node_->RecordNumber() : 0; }

QStringList RecordView::SelectorHistory() const {
  QStringList numbers;
  for (int i = 0; i < selector_->count(); ++i) numbers.append(selector_->itemText(i));
  return numbers;
}

void RecordView::ShowRecordNumber(int number) {
  if (selector_->count() > 0 && selector_->itemText(0).toInt() == number) return;
  const QString text = QString::number(number);
  if (selector_->count() >= kSelectorHistory) selector_->removeItem(kSelectorHistory - 1);
  selector_->insertItem(0, text);
  selector_->setCurrentIndex(0);
  const QSignalBlocker sliderQuiet(slider_);
  const QSignalBlocker spinQuiet(spin_);
  slider_->setValue(number);
  spin_->setValue(number);
  if (node_ != nullptr) {
    const vel::VelHexFile* found = node_->FindRecord(number);
    if (found != nullptr) node_ = found;
  }
  Display();
}

void RecordView::Refresh() {
  long long n = NumberOf(selector_->currentText());
  if (n == 0) {
    Message(
        QStringLiteral("The specified record number is below one. \nSince the file begins at "
                       "record 1, the first record will be displayed."));
    n = 1;
  }
  if (n < 0 || n > recordCount_) {
    Message(
        QStringLiteral("The specified record number does not exist. \nThe last record will "
                       "be displayed."));
    n = recordCount_;
  }
  ShowRecordNumber(static_cast<int>(n));
}

void RecordView::SelectorClosed(int index) {
  QString text = index >= 0 ? selector_->itemText(index) : selector_->currentText();
  if (text.isEmpty()) text = selector_->itemText(1);
  ShowRecordNumber(
      static_cast<int>(std::clamp<long long>(NumberOf(text), 1, std::max(1, recordCount_))));
}

void RecordView::SpinPressed(int position) {
  const int n = recordCount_;
  const int shown = slider_->value();
  int c = position;
  if (c < 1 || c > n) c = shown > n / 2 ? n : 1;  // a step beyond either end
  if (c > 2 * n / 3 && shown < n / 3) c = 1;
  ShowRecordNumber(c);
  const QSignalBlocker quiet(spin_);
  spin_->setValue(c);
}

void RecordView::Message(const QString& text) {
  QMessageBox::information(this, windowTitle(), text);
}

}  // namespace zandorui
