#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace bench {

// Closes the message boxes the windows show while a benchmark runs, as an operator would.
class BoxCloser {
 public:
  BoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
    });
    timer_.start(20);
  }

 private:
  QTimer timer_;
};

}  // namespace bench
