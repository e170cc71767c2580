#include "desktop/track_notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace vornel::desktop {

namespace {

// The picture as the notification service takes it in its "image-data" hint: (iiibiiay), rows of
// 8-bit RGBA. Sending the pixels works for a program that runs from any folder, with no icon
// file installed.
struct NotificationImage {
  int width = 0;
  int height = 0;
  int rowStride = 0;
  bool hasAlpha = true;
  int bitsPerSample = 8;
  int channels = 4;
  QByteArray pixels;
};

QDBusArgument& operator<<(QDBusArgument& argument, const NotificationImage& image) {
  argument.beginStructure();
  argument << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
           << image.channels << image.pixels;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NotificationImage& image) {
  argument.beginStructure();
  argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample >>
      image.channels >> image.pixels;
  argument.endStructure();
  return argument;
}

NotificationImage ImageData(const QImage& icon) {
  const QImage rgba = icon.convertToFormat(QImage::Format_RGBA8888);
  NotificationImage image;
  image.width = rgba.width();
  image.height = rgba.height();
  image.rowStride = static_cast<int>(rgba.bytesPerLine());
  image.pixels = QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
  return image;
}

}  // namespace

}  // namespace vornel::desktop

Q_DECLARE_METATYPE(vornel::desktop::NotificationImage)

namespace vornel::desktop {

TrackNotifier::TrackNotifier(QDBusConnection bus, QString desktopEntry, QImage icon, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), desktopEntry_(std::move(desktopEntry)), icon_(std::move(icon)) {
  qDBusRegisterMetaType<NotificationImage>();
}

void TrackNotifier::Notify(const QString& title, const QString& station) {
  if (title.isEmpty()) return;
  std::pair<QString, QString> track{title, station};
  if (track == last_) return;
  last_ = track;
  if (waiting_) {
    // Sent when the call out has brought the id to replace; only the newest title waits.
    next_ = std::move(track);
    return;
  }
  send(title, station);
}

void TrackNotifier::send(const QString& title, const QString& station) {
  if (!bus_.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), desktopEntry_);
  if (!icon_.isNull()) hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData(icon_)));
  // The body may be read as markup: a station called "Rock & Roll" must come through as written.
  call << QStringLiteral("Vornel") << id_ << desktopEntry_ << title << station.toHtmlEscaped()
       << QStringList() << hints << -1;
  waiting_ = true;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
    finished->deleteLater();
    const QDBusPendingReply<uint> reply = *finished;
    waiting_ = false;
    if (reply.isValid()) id_ = reply.value();
    emit answered();
    if (next_) {
      const auto [nextTitle, nextStation] = *std::exchange(next_, std::nullopt);
      send(nextTitle, nextStation);
    }
  });
}

}  // namespace vornel::desktop
