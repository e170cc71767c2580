#pragma once

// One player per session, through the session bus: the first start owns the media-player
// interface's name; a later start finds it owned, asks the owner to raise its window, and ends.

#include <QDBusConnection>
#include <QString>

namespace vornel::desktop {

enum class BusClaim {
  First,           // this process owns the name from now on
  AlreadyRunning,  // another player owns it and was asked to show itself
  Unavailable      // no bus, or it would not answer: decide some other way
};

[[nodiscard]] BusClaim ClaimBusName(QDBusConnection bus, const QString& service);

}  // namespace vornel::desktop
