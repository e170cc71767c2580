#pragma once

// The persisted properties of one control instance: named values, matched without regard to
// letter case, kept in the order they were first written. A value equal to its default is not
// written, and reading an absent name gives the default, so a bag that holds only defaults is
// empty.

#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>
#include <vector>

namespace vornel::skin {

class PropertyBag {
 public:
  QVariant ReadProperty(const QString& name, const QVariant& defaultValue) const;
  void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue);

  QStringList names() const;
  bool isEmpty() const { return entries_.empty(); }

 private:
  std::vector<std::pair<QString, QVariant>>::const_iterator find(const QString& name) const;

  std::vector<std::pair<QString, QVariant>> entries_;
};

}  // namespace vornel::skin
