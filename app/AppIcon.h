#pragma once

#include <QIcon>

namespace zandorui {

// The program's icon, drawn: a device box with a firmware chip and an arrow into it.
QIcon AppIcon();

}  // namespace zandorui
