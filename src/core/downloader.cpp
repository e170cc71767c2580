#include "core/downloader.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

#include "platform/codepage.h"

Q_DECLARE_LOGGING_CATEGORY(lcDirectory)

namespace vornel::core {

Downloader::Downloader(QObject* parent) : QObject(parent), network_(new QNetworkAccessManager(this)) {
  // The system's proxy settings, as the platform's own downloads use them.
  QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void Downloader::abandon() {
  abandoned_ = true;
  emit finishedWaiting();
}

QString Downloader::DownloadText(const QString& url, std::int16_t TimeoutSeconds) {
  switch (Download(url, TimeoutSeconds)) {
    case Outcome::Ok:
      return receivedText_;
    case Outcome::Busy:
      return {};
    case Outcome::NotHttp:
    case Outcome::Failed:
    case Outcome::TimedOut:
      break;
  }
  return InvalidAddress();
}

Downloader::Outcome Downloader::Download(const QString& url, std::int16_t TimeoutSeconds) {
  if (busy_) return Outcome::Busy;
  if (!url.startsWith(QStringLiteral("http://"), Qt::CaseSensitive)) return Outcome::NotHttp;

  busy_ = true;
  QNetworkRequest request(QUrl(url, QUrl::StrictMode));
  // Always from the server, never from a local cache.
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  QNetworkReply* reply = network_->get(request);
  connect(reply, &QNetworkReply::finished, this, [this, reply] { completed(reply); });

  // Waits for events with a deadline: the window stays live and the processor idle. The wait
  // gives up only once strictly more than TimeoutSeconds have passed.
  QElapsedTimer elapsed;
  elapsed.start();
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire a little early
  connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  connect(this, &Downloader::finishedWaiting, &loop, &QEventLoop::quit);
  const qint64 limit = std::max<qint64>(0, TimeoutSeconds) * 1000;
  abandoned_ = false;
  while (busy_ && !abandoned_) {
    const qint64 left = limit - elapsed.elapsed();
    if (left < 0) break;  // strictly more than the limit has passed
    deadline.start(static_cast<int>(left) + 1);
    loop.exec();
  }
  if (busy_) return Outcome::TimedOut;  // or abandoned: a late completion is still taken in
  return receivedText_.isEmpty() ? Outcome::Failed : Outcome::Ok;
}

void Downloader::completed(QNetworkReply* reply) {
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  // An error status is a failed download: an error page must never replace a good directory.
  if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
    receivedBytes_ = reply->readAll();
  } else {
    qCInfo(lcDirectory) << "download failed:" << reply->errorString() << "status" << status;
    receivedBytes_.clear();
  }
  receivedText_ = QString::fromStdString(platform::Cp1251ToUtf8(
      std::string_view(receivedBytes_.constData(), static_cast<std::size_t>(receivedBytes_.size()))));
  busy_ = false;
  emit finishedWaiting();
}

}  // namespace vornel::core
