#include "ui/tray_icons.h"

#include <QSystemTrayIcon>

namespace vornel::ui {

TrayIcon::TrayIcon(const QIcon& icon, const QString& tooltip, QObject* parent, TrayNotify notify)
    : tooltip_(tooltip) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  systemIcon_ = std::make_unique<QSystemTrayIcon>(icon, parent);
  systemIcon_->setToolTip(tooltip);
  if (notify) {
    QObject::connect(systemIcon_.get(), &QSystemTrayIcon::activated, systemIcon_.get(),
                     [notify](QSystemTrayIcon::ActivationReason reason) {
                       if (reason == QSystemTrayIcon::Trigger) notify(WM_LBUTTONUP);
                       if (reason == QSystemTrayIcon::Context) notify(WM_RBUTTONUP);
                     });
  }
  systemIcon_->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::ModifyIcon(const QIcon& icon, const QString& tooltip) {
  tooltip_ = tooltip;
  if (!systemIcon_) return;
  systemIcon_->setIcon(icon);
  systemIcon_->setToolTip(tooltip);
}

namespace {
bool gClaimed = false;
}  // namespace

bool TrayIcons::Available() { return gClaimed || QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcons::ClaimAvailableForTests(bool claim) { gClaimed = claim; }

TrayIcon& TrayIcons::AddIcon(const QIcon& icon, const QString& tooltip, TrayNotify notify) {
  icons_.push_back(std::make_unique<TrayIcon>(icon, tooltip, parent_, std::move(notify)));
  return *icons_.back();
}

TrayIcon* TrayIcons::IconAt(int position) const {
  if (position < 1 || position > Count()) return nullptr;
  return icons_[static_cast<std::size_t>(position - 1)].get();
}

}  // namespace vornel::ui
