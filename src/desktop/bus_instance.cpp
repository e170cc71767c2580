#include "desktop/bus_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>

#include "desktop/mpris.h"

namespace vornel::desktop {

namespace {

Q_LOGGING_CATEGORY(lcDesktop, "vornel.desktop")

// A running player answers at once; one that hangs must not keep the new start waiting long.
constexpr int kRaiseTimeoutMs = 3000;

}  // namespace

BusClaim ClaimBusName(QDBusConnection bus, const QString& service) {
  if (!bus.isConnected() || bus.interface() == nullptr) return BusClaim::Unavailable;
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
      service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid()) {
    qCWarning(lcDesktop) << "cannot claim" << service << ":" << reply.error().message();
    return BusClaim::Unavailable;
  }
  if (reply.value() == QDBusConnectionInterface::ServiceRegistered) return BusClaim::First;

  const QDBusMessage raise = QDBusMessage::createMethodCall(
      service, Mpris::ObjectPath(), QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
  const QDBusMessage answer = bus.call(raise, QDBus::Block, kRaiseTimeoutMs);
  if (answer.type() == QDBusMessage::ErrorMessage) {
    // The name is owned all the same: a second player would still collide with the first.
    qCWarning(lcDesktop) << "the running player did not raise its window:" << answer.errorMessage();
  }
  return BusClaim::AlreadyRunning;
}

}  // namespace vornel::desktop
