#include "skin/property_bag.h"

#include <QImage>

#include <algorithm>

namespace vornel::skin {

namespace {

bool SameValue(const QVariant& a, const QVariant& b) {
  // Pictures compare by their pixels; an absent picture and a null one are the same "none".
  const bool aPicture = a.metaType().id() == QMetaType::QImage || !a.isValid();
  const bool bPicture = b.metaType().id() == QMetaType::QImage || !b.isValid();
  if (aPicture && bPicture) return a.value<QImage>() == b.value<QImage>();
  return a == b;
}

}  // namespace

std::vector<std::pair<QString, QVariant>>::const_iterator PropertyBag::find(const QString& name) const {
  return std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) {
    return entry.first.compare(name, Qt::CaseInsensitive) == 0;
  });
}

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
  const auto entry = find(name);
  return entry == entries_.end() ? defaultValue : entry->second;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) {
  const auto entry = find(name);
  if (SameValue(value, defaultValue)) {
    // The default is what an absent name reads as; an older stored value must not outlive it.
    if (entry != entries_.end()) entries_.erase(entry);
    return;
  }
  if (entry != entries_.end()) {
    entries_[static_cast<std::size_t>(entry - entries_.begin())].second = value;
  } else {
    entries_.emplace_back(name, value);
  }
}

QStringList PropertyBag::names() const {
  QStringList list;
  for (const auto& entry : entries_) list.append(entry.first);
  return list;
}

}  // namespace vornel::skin
