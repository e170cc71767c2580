#include "ui/list_search.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>

namespace vornel::ui {
namespace {

class TypeToFind : public QObject {
 public:
  explicit TypeToFind(QAbstractItemView& list) : QObject(&list) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!Typed(*key)) return false;
    if (type == QEvent::KeyPress) {
      // A blank never starts a search: on its own it is still the play key.
      if (key->key() != Qt::Key_Space || Searching()) typed_.start();
      return false;
    }
    // Accepting the override hands the key to the list as a key press instead of a shortcut.
    if (Searching()) key->accept();
    return false;
  }

 private:
  // A character that can be part of a name: no Ctrl, Alt or Meta, something printable.
  static bool Typed(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = key.text();
    return !text.isEmpty() && text.at(0).isPrint();
  }

  // The list's own search goes on while keys come within this interval, so ours follows it.
  bool Searching() const {
    return typed_.isValid() && typed_.elapsed() < QApplication::keyboardInputInterval();
  }

  QElapsedTimer typed_;  // since the last character that went to the search
};

}  // namespace

void EnableTypeToFind(QAbstractItemView& list) { list.installEventFilter(new TypeToFind(list)); }

}  // namespace vornel::ui
