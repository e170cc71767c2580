#include "skin/async_bitmap.h"

#include <QImage>
#include <QLabel>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QResizeEvent>
#include <QUrl>

namespace vornel::skin {

namespace {
const char kTag[] = "PictureFromURL";
Q_LOGGING_CATEGORY(lcBitmap, "vornel.skin.bitmap")
}  // namespace

bool IsWebAddress(const QString& address) {
  const QUrl url(address);
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
         !url.host().isEmpty();
}

AsyncBitmap::AsyncBitmap(QWidget* parent) : QWidget(parent), picBitmap_(new QLabel(this)) {
  picBitmap_->setObjectName(QStringLiteral("picBitmap"));
  picBitmap_->move(0, 0);
}

QPixmap AsyncBitmap::Picture() const { return picBitmap_->pixmap(); }

void AsyncBitmap::setPicture(const QPixmap& NewPicture) {
  picBitmap_->setPixmap(NewPicture);
  if (NewPicture.isNull()) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return;
  }
  // The picture box sizes itself to its picture, and the control to the picture box; a fixed
  // size makes any later resize by the host come back to it, shown or not.
  picBitmap_->resize(NewPicture.size());
  setFixedSize(NewPicture.size());
}

void AsyncBitmap::setPictureFromURL(const QString& NewString) {
  address_ = NewString;
  if (NewString.isEmpty()) return;
  if (!IsWebAddress(NewString)) {
    qCWarning(lcBitmap) << "not a web address, not loaded:" << NewString;
    return;
  }
  if (network_ == nullptr) network_ = new QNetworkAccessManager(this);
  QNetworkRequest request{QUrl(NewString)};
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  QNetworkReply* reply = network_->get(request);
  reply->setProperty("tag", QString::fromLatin1(kTag));
  connect(reply, &QNetworkReply::finished, this, [this, reply] { completed(reply); });
}

void AsyncBitmap::completed(QNetworkReply* reply) {
  reply->deleteLater();
  if (reply->property("tag").toString() != QLatin1String(kTag)) return;
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  QImage image;
  if (reply->error() == QNetworkReply::NoError && (status == 0 || (status >= 200 && status < 300))) {
    image.loadFromData(reply->readAll());  // the format from the bytes: GIF, JPEG, PNG, BMP, ...
  }
  // A failed download keeps whatever picture the control held before.
  if (!image.isNull()) setPicture(QPixmap::fromImage(image));
  if (!Picture().isNull()) {
    emit DownloadComplete();
  } else {
    emit DownloadError();
  }
}

void AsyncBitmap::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (Picture().isNull()) picBitmap_->setGeometry(0, 0, width(), height());
}

}  // namespace vornel::skin
