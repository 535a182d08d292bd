#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zandorui {

// The walks' setting "Record sessions in:": a check box, the folder that receives one session
// record a row, and a "..." button that asks for the folder. Kept in the settings like the
// walks' other settings.
class SessionRecordSetting : public QWidget {
  Q_OBJECT
 public:
  explicit SessionRecordSetting(QWidget* parent = nullptr);

  // The folder a walk records its sessions in, empty when it records none. Nothing, with *why
  // saying so, when recording is on and the folder is missing, is not a folder, or cannot be
  // written: a walk then does not start.
  std::optional<QString> FolderForAWalk(QString* why) const;

 private:
  void ChooseFolder();
  void Keep();

  QCheckBox* recording_;
  QLineEdit* folder_;
  QPushButton* choose_;
};

}  // namespace zandorui
