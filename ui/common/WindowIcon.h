#pragma once

#include <QIcon>
#include <QPixmap>

namespace varnel {

// An empty window icon, for windows that show none: without an icon of its own a window would get
// the application's or a generic one in managers that draw the client's icon.
inline QIcon NoWindowIcon() {
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}

}  // namespace varnel
