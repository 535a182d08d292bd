#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace zandorui::testing {

// Answers the message boxes that appear while it lives: records each box's text and presses the
// chosen button (Yes, then OK, for boxes that offer them).
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes) : answer_(answer) {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Look);
    timer_.start(5);
  }
  const QStringList& Texts() const { return texts_; }
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    texts_.append(box->text());
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button == nullptr) button = box->buttons().value(0);
    if (button != nullptr) button->click();
  }

  QMessageBox::StandardButton answer_;
  QTimer timer_;
  QStringList texts_;
};

}  // namespace zandorui::testing
