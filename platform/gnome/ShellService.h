// The extension's service on the session bus, shared by the GNOME backends: bounded calls, and the
// clipboard's change signal.
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>

#include "base/Result.h"

namespace varnel::gnome {

class ShellService : public QObject {
    Q_OBJECT

  public:
    // Every call is answered within this bound or counts as failed.
    static constexpr int CallBoundMs = 1000;

    explicit ShellService(QDBusConnection bus);
    ~ShellService() override;

    // Calls one of the service's methods; the reply's arguments, or why there is none.
    Result<QList<QVariant>> call(const QString& method, const QList<QVariant>& args = {}) const;
    // Our own name on the bus, which the service reports as the setter of our clipboard changes.
    QString ownName() const { return bus_.baseService(); }

    // The latest clipboard serial the service has reported (signals and replies).
    std::uint64_t serial() const { return serial_; }
    void noteSerial(std::uint64_t serial);
    // Called for each clipboard change another program made.
    void setForeignChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

  private slots:
    void onClipboardChanged(qulonglong serial, const QString& setter);

  private:
    QDBusConnection bus_;
    std::uint64_t serial_ = 0;
    std::function<void()> listener_;
};

}  // namespace varnel::gnome
