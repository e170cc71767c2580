#pragma once

// A picture loaded from a web address in the background. Setting the address only starts the
// download; DownloadComplete or DownloadError tells how it ended. While it holds a picture the
// control has exactly the picture's size.

#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;

namespace vornel::skin {

class AsyncBitmap : public QWidget {
  Q_OBJECT

 public:
  explicit AsyncBitmap(QWidget* parent = nullptr);

  QPixmap Picture() const;
  void setPicture(const QPixmap& NewPicture);

  const QString& PictureFromURL() const { return address_; }
  // Stores the address and, when it is a web address (IsWebAddress), starts its download (always
  // from the server). Any other address starts nothing: the directory that names it comes over
  // plain HTTP, and must not make the program read local files.
  void setPictureFromURL(const QString& NewString);

 signals:
  void DownloadComplete();  // a download ended and the control holds a picture
  void DownloadError();     // a download ended and the control holds none

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void completed(QNetworkReply* reply);

  QLabel* picBitmap_;
  QString address_;
  QNetworkAccessManager* network_ = nullptr;  // made on first use
};

// True for an http:// or https:// address with a host: the only addresses that a text from the
// network may make the program open or load.
bool IsWebAddress(const QString& address);

}  // namespace vornel::skin
