#include "ui/skin_style.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>

#include "platform/gdi.h"
#include "skin/cls_regions.h"
#include "skin/window_host.h"

namespace vornel::ui {

namespace {

// Where the window has no shape yet, the outside is painted in this backdrop colour.
constexpr QRgb kBackdrop = 0xFF1B1F24;

// The small windows' and the options panel's captions are long Russian phrases in controls sized
// for a narrow Windows font: the condensed face keeps them whole.
constexpr char kCondensedFamily[] = "DejaVu Sans Condensed";

QFont SkinFont(int pixelSize, bool bold, const char* family = "DejaVu Sans") {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 64, 256}) icon.addFile(QStringLiteral(":/skin/icon_%1.png").arg(size), QSize(size, size));
  return icon;
}

QImage SkinPicture(const QString& name) { return QImage(QStringLiteral(":/skin/") + name); }

QImage SkinPictureToDraw(const QString& name) {
  // The highest ratio of any screen: a window moved to the sharper screen stays sharp, and on
  // the other one Qt scales down, which loses nothing.
  if (qApp == nullptr || qApp->devicePixelRatio() <= 1.0 || !name.endsWith(QLatin1String(".png"))) {
    return SkinPicture(name);
  }
  QImage sharp(QStringLiteral(":/skin/") + name.chopped(4) + QStringLiteral("@2x.png"));
  if (sharp.isNull()) return SkinPicture(name);
  sharp.setDevicePixelRatio(2.0);
  return sharp;
}

void ShapeWindow(QWidget& window, const QImage& picture) {
  // Not the background: its backdrop colour could also stand inside the outline.
  const platform::HBITMAP bitmap = skin::BitmapFromImage(picture);
  if (bitmap == 0) return;
  {
    skin::clsRegions regions;
    regions.RegionFromBitmap(bitmap, skin::WindowHandle(&window), -1, false, 0, 0, 0, 0);
  }
  platform::DeleteObject(bitmap);  // the region now belongs to the window, the bitmap is ours
}

QPixmap SkinBackground(const QImage& picture) {
  if (picture.isNull()) return {};
  QImage image = picture.convertToFormat(QImage::Format_RGB32);
  const QRgb key = image.pixel(0, 0);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (line[x] == key) line[x] = kBackdrop;
    }
  }
  return QPixmap::fromImage(image);
}

void StyleTitleLabel(QLabel& label) {
  label.setFont(SkinFont(12, true));
  label.setStyleSheet(QStringLiteral("color: #E9ECF0; background: transparent;"));
}

void StyleStatusLabel(QLabel& label) {
  label.setFont(SkinFont(11, false));
  label.setStyleSheet(QStringLiteral("color: #FFCB6B; background: transparent; padding-left: 3px;"));
}

void StyleListBox(QListWidget& list) {
  list.setFont(SkinFont(11, false));
  list.setFrameShape(QFrame::NoFrame);
  list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list.setStyleSheet(QStringLiteral(
      "QListWidget { background: #E8E8E8; color: #1F2328; border: none; outline: 0; }"
      "QListWidget::item { padding: 1px 3px; }"
      "QListWidget::item:selected { background: #E39B2D; color: #FFFFFF; }"));
}

void StyleOptionsPanel(QFrame& panel) {
  panel.setAutoFillBackground(true);
  panel.setStyleSheet(QStringLiteral(
      "QFrame#frmOptions { background: #E8E8E8; border: 1px solid #9AA3AD; }"
      "QLabel, QRadioButton, QCheckBox, QGroupBox { color: #1F2328; font-family: 'DejaVu Sans Condensed';"
      " font-size: 11px; }"
      "QRadioButton, QCheckBox { spacing: 3px; }"
      "QRadioButton::indicator, QCheckBox::indicator { width: 11px; height: 11px; }"
      "QLabel#lblVersion { font-family: 'Times New Roman'; font-size: 13px; }"));
}

void StyleDialogLabel(QLabel& label, bool caption) {
  label.setFont(caption ? SkinFont(12, true) : SkinFont(11, false, kCondensedFamily));
  label.setStyleSheet(caption ? QStringLiteral("color: #E9ECF0; background: transparent;")
                              : QStringLiteral("color: #1E2228; background: transparent;"));
}

void StyleDialogCheckBox(QCheckBox& box) {
  box.setFont(SkinFont(11, false, kCondensedFamily));
  box.setStyleSheet(QStringLiteral("QCheckBox { color: #1E2228; background: transparent; spacing: 3px; }"
                                   "QCheckBox::indicator { width: 11px; height: 11px; }"));
}

}  // namespace vornel::ui
