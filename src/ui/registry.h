#pragma once

// The two settings-store routines. Neither reports an error: a value that cannot be read gives
// the default, a write that fails is lost, and the program goes on.

#include <QString>

#include <cstdint>

#include "platform/settings_store.h"

namespace vornel::ui {

// Where the player keeps its settings.
inline const QString kSettingsKey = QStringLiteral("Software\\Vornel");

// The stored 32-bit value, or `defaultValue` when the key or value is absent or not a DWORD.
std::int32_t ReadRegDword(platform::HKEY root, const QString& keyPath, const QString& valueName,
                          std::int32_t defaultValue);
// Stores the value as a DWORD, creating the key when needed.
void WriteRegDword(platform::HKEY root, const QString& keyPath, const QString& valueName, std::int32_t value);

}  // namespace vornel::ui
