#pragma once

#include <QIcon>
#include <QImage>

namespace zandorui {

// The program's icon, drawn: a device box with a firmware chip and an arrow into it.
QImage DrawAppIcon(int size);
QIcon AppIcon();  // every size a desktop asks for (needs the application object)

}  // namespace zandorui
