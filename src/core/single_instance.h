#pragma once

// One player per user: two would share one REC folder and one stations.dat. The first instance
// listens on a local socket named for the user; a later one finds it there, asks it to show its
// window, and ends.

#include <QObject>
#include <QString>

class QLocalServer;

namespace vornel::core {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Claim { First, AlreadyRunning, Unavailable };

  // `name` is the socket's name; the default one is the user's own.
  explicit SingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
  ~SingleInstance() override;

  // First: this process is the player and listens from now on. AlreadyRunning: another player
  // was told to show itself; this one should end. Unavailable: no socket could be made (the
  // player runs anyway).
  [[nodiscard]] Claim claim();

  static QString DefaultName();

 signals:
  // Another start asked for the window.
  void showRequested();

 private:
  const QString name_;
  QLocalServer* server_ = nullptr;
};

}  // namespace vornel::core
