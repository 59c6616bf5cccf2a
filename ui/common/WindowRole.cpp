#include "ui/common/WindowRole.h"

#include <QAccessibleWidget>

namespace varnel {

namespace {

constexpr char RoleProperty[] = "varnelWindowRole";

QAccessibleInterface* WindowWithRole(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    const QVariant role = widget->property(RoleProperty);
    return role.isValid() ? new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()))
                          : nullptr;
}

}  // namespace

void SetWindowRole(QWidget& window, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(WindowWithRole);
        return true;
    }();
    (void)installed;
    window.setProperty(RoleProperty, static_cast<int>(role));
}

}  // namespace varnel
