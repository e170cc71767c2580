#include "skin/async_bitmap.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <random>

#include "support/server_process.h"
#include "support/test_environment.h"

namespace vornel::skin {
namespace {

namespace fs = std::filesystem;

// The smallest GIF there is (Qt reads GIF but cannot write it): one pixel.
const char kGif[] =
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00"
    "\x01\x00\x01\x00\x00\x02\x02D\x01\x00;";

class AsyncBitmapTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("vornel-banner-" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    QImage banner(468, 60, QImage::Format_RGB32);
    banner.fill(Qt::darkCyan);
    for (const char* format : {"PNG", "JPG", "BMP"}) {
      banner.save(QString::fromStdString((root_ / (std::string("banner.") + format)).string()), format);
    }
    std::ofstream(root_ / "banner.GIF", std::ios::binary).write(kGif, sizeof kGif - 1);
    std::ofstream(root_ / "page.html", std::ios::binary) << "<html><body>not a picture</body></html>";
    server_ = new test::ServerProcess({"python3", VORNEL_TEST_HTTP_SERVER, root_.string()});
  }
  static void TearDownTestSuite() {
    delete server_;
    fs::remove_all(root_);
  }
  QString Url(const std::string& path) { return QString::fromStdString(server_->url(path)); }

  static inline fs::path root_;
  static inline test::ServerProcess* server_ = nullptr;
};

TEST_F(AsyncBitmapTest, EachCommonFormatArrivesAndSizesTheControl) {
  for (const char* format : {"PNG", "JPG", "BMP", "GIF"}) {
    AsyncBitmap bitmap;
    QSignalSpy complete(&bitmap, &AsyncBitmap::DownloadComplete);
    bitmap.setPictureFromURL(Url(std::string("/file/banner.") + format));
    ASSERT_TRUE(complete.wait(5000)) << format;
    const QSize expected = std::string(format) == "GIF" ? QSize(1, 1) : QSize(468, 60);
    EXPECT_EQ(bitmap.Picture().size(), expected) << format;
    EXPECT_EQ(bitmap.size(), expected) << format;
    bitmap.resize(25, 22);  // the host tries; the picture's size wins
    EXPECT_EQ(bitmap.size(), expected) << format;
  }
}

TEST_F(AsyncBitmapTest, NotAPictureIsAnErrorUnlessAPictureIsAlreadyHeld) {
  AsyncBitmap bitmap;
  QSignalSpy complete(&bitmap, &AsyncBitmap::DownloadComplete);
  QSignalSpy error(&bitmap, &AsyncBitmap::DownloadError);
  bitmap.setPictureFromURL(Url("/file/page.html"));
  ASSERT_TRUE(error.wait(5000));
  EXPECT_TRUE(bitmap.Picture().isNull());

  bitmap.setPictureFromURL(Url("/file/banner.PNG"));
  ASSERT_TRUE(complete.wait(5000));
  bitmap.setPictureFromURL(Url("/status/404"));
  ASSERT_TRUE(complete.wait(5000));  // the old picture stays
  EXPECT_EQ(bitmap.Picture().size(), QSize(468, 60));
  EXPECT_EQ(error.count(), 1);
}

TEST_F(AsyncBitmapTest, AnEmptyAddressStartsNothing) {
  AsyncBitmap bitmap;
  QSignalSpy complete(&bitmap, &AsyncBitmap::DownloadComplete);
  QSignalSpy error(&bitmap, &AsyncBitmap::DownloadError);
  bitmap.setPictureFromURL(QString());
  QTest::qWait(300);
  EXPECT_EQ(complete.count() + error.count(), 0);
  bitmap.resize(30, 20);  // without a picture the host decides the size
  EXPECT_EQ(bitmap.size(), QSize(30, 20));
}

// The directory that names the banner comes over plain HTTP: only web addresses are loaded, never
// a local file or another scheme, and the refusal raises no event.
TEST_F(AsyncBitmapTest, OnlyWebAddressesAreLoaded) {
  const QString local = QString::fromStdString((root_ / "banner.PNG").string());
  for (const QString& address :
       {QStringLiteral("file://") + local, local, QStringLiteral("ftp://127.0.0.1/x.png"),
        QStringLiteral("data:image/gif;base64,R0lGODlhAQABAAAAACw="),
        QStringLiteral("http:///no-host.png")}) {
    AsyncBitmap bitmap;
    QSignalSpy complete(&bitmap, &AsyncBitmap::DownloadComplete);
    QSignalSpy error(&bitmap, &AsyncBitmap::DownloadError);
    bitmap.setPictureFromURL(address);
    QTest::qWait(200);
    EXPECT_EQ(complete.count() + error.count(), 0) << address.toStdString();
    EXPECT_TRUE(bitmap.Picture().isNull()) << address.toStdString();
  }
  EXPECT_TRUE(IsWebAddress(QStringLiteral("HTTPS://Example.org/b.png")));
  EXPECT_TRUE(IsWebAddress(Url("/banner.PNG")));
}

}  // namespace
}  // namespace vornel::skin
