#include "core/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>

#include <unistd.h>

namespace vornel::core {

namespace {

Q_LOGGING_CATEGORY(lcInstance, "vornel.instance")

constexpr int kAnswerMs = 1000;
constexpr char kShowRequest[] = "show\n";

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultName() { return QStringLiteral("vornel-%1").arg(::getuid()); }

SingleInstance::Claim SingleInstance::claim() {
  {
    QLocalSocket running;
    running.connectToServer(name_);
    if (running.waitForConnected(kAnswerMs)) {
      running.write(kShowRequest);
      running.waitForBytesWritten(kAnswerMs);
      running.disconnectFromServer();
      return Claim::AlreadyRunning;
    }
  }
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Nobody answered, so a socket left by a player that crashed is in the way.
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) {
      qCWarning(lcInstance) << "cannot listen on" << name_ << ":" << server_->errorString();
      return Claim::Unavailable;
    }
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* caller = server_->nextPendingConnection()) {
      connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
      connect(caller, &QLocalSocket::readyRead, this, [this, caller] {
        if (caller->readAll().startsWith("show")) emit showRequested();
      });
    }
  });
  return Claim::First;
}

}  // namespace vornel::core
