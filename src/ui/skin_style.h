#pragma once

// Colours, fonts and pictures of the skin that the program applies itself, kept in one place so
// that the windows look alike.

#include <QIcon>
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

// Gives a frameless window the outline of its skin picture: the pixels of the picture's top-left
// colour lie outside. A window whose shaping fails stays rectangular.
void ShapeWindow(QWidget& window, const QString& name);

// A window background from the skin. Its top-left pixel is the key colour that marks what lies
// outside the window's outline; those pixels are painted in the backdrop colour.
QPixmap SkinBackground(const QString& name);

void StyleTitleLabel(QLabel& label);
void StyleStatusLabel(QLabel& label);
void StyleListBox(QListWidget& list);
void StyleOptionsPanel(QFrame& panel);
// Texts of the small windows: the caption on the dark drag bar, the body on the light panel.
void StyleDialogLabel(QLabel& label, bool caption);
void StyleDialogCheckBox(QCheckBox& box);

}  // namespace vornel::ui
