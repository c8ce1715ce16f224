// The window's three icons, drawn at run time: the application icon, a red cross for
// "disconnected" and a green tick for "connected".
#pragma once

#include <QIcon>
#include <QPixmap>

namespace zuz::gui {

QIcon AppIcon();
QPixmap DisconnectedIcon(int size = 32);
QPixmap ConnectedIcon(int size = 32);

}  // namespace zuz::gui
