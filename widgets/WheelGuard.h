#pragma once

#include <QObject>

class QApplication;

namespace zandorui {

// A drop-down or spin box inside a table or scroll area takes the wheel only while it has the
// focus: a wheel turned to scroll the area scrolls it and changes no value that passes under
// the pointer, and it gives such a control no focus (a click or Tab does). One guard, installed
// on the application, serves every window.
class WheelGuard : public QObject {
  Q_OBJECT
 public:
  static void Install(QApplication& app);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using QObject::QObject;
};

}  // namespace zandorui
