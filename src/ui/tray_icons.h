#pragma once

// The notification-area icons of a window, over QSystemTrayIcon. Where the desktop has no
// notification area the icons are still kept (picture and tooltip), just not shown, so the rest
// of the program never has to ask.

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QSystemTrayIcon;
class QWidget;

namespace vornel::ui {

// Mouse messages an icon reports to its owner, as the notification area reports them.
constexpr int WM_LBUTTONUP = 0x202;
constexpr int WM_RBUTTONUP = 0x205;
using TrayNotify = std::function<void(int message)>;

class TrayIcon {
 public:
  // `notify` hears WM_LBUTTONUP for a click on the icon and WM_RBUTTONUP for a request for its
  // menu; it may be empty.
  TrayIcon(const QIcon& icon, const QString& tooltip, QObject* parent, TrayNotify notify);
  ~TrayIcon();

  // Replaces picture and tooltip.
  void ModifyIcon(const QIcon& icon, const QString& tooltip);

  const QString& tooltip() const { return tooltip_; }
  QSystemTrayIcon* systemIcon() const { return systemIcon_.get(); }  // null without a tray

 private:
  QString tooltip_;
  std::unique_ptr<QSystemTrayIcon> systemIcon_;
};

class TrayIcons {
 public:
  explicit TrayIcons(QObject* parent) : parent_(parent) {}

  // Whether the desktop shows icons in a notification area, where a hidden window can be found
  // again. Tests of the hide-to-tray path claim one on a platform that has none.
  static bool Available();
  static void ClaimAvailableForTests(bool claim);

  // Adds and shows an icon; the collection keeps it.
  TrayIcon& AddIcon(const QIcon& icon, const QString& tooltip, TrayNotify notify = {});
  // The icon at 1-based `position`, or null.
  TrayIcon* IconAt(int position) const;
  int Count() const { return static_cast<int>(icons_.size()); }

 private:
  QObject* parent_;
  std::vector<std::unique_ptr<TrayIcon>> icons_;
};

}  // namespace vornel::ui
