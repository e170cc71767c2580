#pragma once

// Colours, fonts and pictures of the skin that the program applies itself, kept in one place so
// that the windows look alike.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QListWidget;
class QWidget;

namespace vornel::ui {

// The program's icon (window and notification area).
QIcon AppIcon();

// A picture of the skin, by file name (":/skin/<name>"), as the window is laid out by: one pixel
// per unit. Window outlines and sizes come from these.
QImage SkinPicture(const QString& name);
// The same picture for drawing on the screens at hand: on a screen of device pixel ratio above 1
// the rendering at twice the size, marked with ratio 2, where the skin has one.
QImage SkinPictureToDraw(const QString& name);

// Gives a frameless window the outline of its skin picture as drawn, key colour and all: the
// pixels of the picture's top-left colour lie outside. A window whose shaping fails stays
// rectangular.
void ShapeWindow(QWidget& window, const QImage& picture);

// A window background from its skin picture. The top-left pixel is the key colour that marks
// what lies outside the window's outline; those pixels are painted in the backdrop colour, which
// is what shows should the window stay rectangular.
QPixmap SkinBackground(const QImage& picture);

void StyleTitleLabel(QLabel& label);
void StyleStatusLabel(QLabel& label);
void StyleListBox(QListWidget& list);
void StyleOptionsPanel(QFrame& panel);
// Texts of the small windows: the caption on the dark drag bar, the body on the light panel.
void StyleDialogLabel(QLabel& label, bool caption);
void StyleDialogCheckBox(QCheckBox& box);

}  // namespace vornel::ui
