// Every caption of every window fits its control at the control's own size: nothing is cut.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <string>
#include <vector>

#include "ui/dlg_tray.h"
#include "ui/msg_na.h"
#include "ui/started_player.h"

namespace vornel::ui {
namespace {

class Quiet : public core::MessageBoxes {
 public:
  void Show(const QString&, const QString&, core::MessageIcon) override {}
};

// What does not fit in `window`, one line each.
std::vector<std::string> CutTexts(QWidget& window) {
  std::vector<std::string> cut;
  auto report = [&](QWidget* widget, const QString& text, QSize need) {
    cut.push_back(widget->metaObject()->className() + std::string(" ") + widget->objectName().toStdString() +
                  " \"" + text.toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                  std::to_string(need.height()) + " in " + std::to_string(widget->width()) + "x" +
                  std::to_string(widget->height()));
  };
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    widget->ensurePolished();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->text().isEmpty()) continue;
      const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                        -label->margin());
      const QFontMetrics metrics(label->font());
      const int flags = label->alignment() | (label->wordWrap() ? Qt::TextWordWrap : 0);
      const QRect need = metrics.boundingRect(room, flags, label->text());
      if (need.width() > room.width() || need.height() > room.height())
        report(label, label->text(), need.size());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      if (button->text().isEmpty()) continue;
      const QSize need = button->sizeHint();
      if (need.width() > button->width() || need.height() > button->height())
        report(button, button->text(), need);
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
      QStyleOptionGroupBox option;
      option.initFrom(box);
      option.text = box->title();
      option.subControls = QStyle::SC_GroupBoxLabel;
      const QRect caption =
          box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
      const int need = QFontMetrics(box->font()).horizontalAdvance(box->title());
      if (caption.left() + need > box->width())
        report(box, box->title(), {caption.left() + need, caption.height()});
    }
  }
  return cut;
}

TEST(TextFitTest, EveryCaptionOfEveryWindowFits) {
  Quiet messages;
  StartedPlayer player(messages);
  ASSERT_TRUE(player.Start());
  frmVornel& window = player.window;
  // The two small windows are the main window's children: one walk covers all three.
  window.trayNotice();
  auto* unavailable = new msgNA(&window);
  std::vector<std::string> cut = CutTexts(window);
  // The status texts the window shows on its own.
  auto* status = window.findChild<QLabel*>(QStringLiteral("lblStatus"));
  for (const QString& text : {QStringLiteral("Выберите радиостанцию."),
                              QStringLiteral("Выберите радиостанцию"), QStringLiteral("Выберите станцию"),
                              QStringLiteral("Подключаемся..."), QStringLiteral("Переподключение...")}) {
    status->setText(text);
    for (const std::string& line : CutTexts(window)) {
      if (line.find("lblStatus") != std::string::npos) cut.push_back(line);
    }
  }
  for (const std::string& line : cut) ADD_FAILURE() << line;
  delete unavailable;
  window.close();
}

}  // namespace
}  // namespace vornel::ui
