#pragma once

// The directory download: an asynchronous HTTP download turned into one call that waits, with a
// time limit, while the window's events go on running.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>

class QNetworkAccessManager;
class QNetworkReply;

namespace vornel::core {

class Downloader : public QObject {
  Q_OBJECT

 public:
  // What DownloadText returns for every failure.
  static QString InvalidAddress() { return QStringLiteral("<invalid address>"); }

  // How a download ended; the text is in receivedText() when Ok.
  enum class Outcome { Ok, NotHttp, Failed, TimedOut, Busy };

  explicit Downloader(QObject* parent = nullptr);

  // Downloads `url` (http:// only) within `TimeoutSeconds`; window events run meanwhile. Ok only
  // for a success status with a body that is not empty.
  [[nodiscard]] Outcome Download(const QString& url, std::int16_t TimeoutSeconds);

  // The body of `url` as text (each byte one Windows-1251 character), "<invalid address>" when
  // the address is not http://, the download failed, returned an error status or an empty body,
  // or took longer than `TimeoutSeconds`; empty when a download of this control is still under
  // way. Window events run meanwhile; `abandon` ends the wait early (as a failure).
  QString DownloadText(const QString& url, std::int16_t TimeoutSeconds);

  // Ends a wait in DownloadText at once, for example because the window is going.
  void abandon();

  bool busy() const { return busy_; }
  const QString& receivedText() const { return receivedText_; }
  // The bytes behind receivedText, exactly as they came.
  const QByteArray& receivedBytes() const { return receivedBytes_; }

 signals:
  void finishedWaiting();

 private:
  void completed(QNetworkReply* reply);

  QNetworkAccessManager* network_;
  bool busy_ = false;
  bool abandoned_ = false;
  QString receivedText_;
  QByteArray receivedBytes_;
};

}  // namespace vornel::core
