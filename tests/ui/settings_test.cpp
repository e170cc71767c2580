#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QRadioButton>
#include <QTest>

#include <filesystem>

#include "platform/settings_store.h"
#include "ui/dlg_tray.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/message_boxes.h"
#include "ui/registry.h"
#include "ui/started_player.h"

namespace vornel::ui {
namespace {

using platform::HKEY_CURRENT_USER;

class QuietMessages : public core::MessageBoxes {
 public:
  void Show(const QString&, const QString&, core::MessageIcon) override {}
};

// Each test starts from an empty store, seeds it, then starts the program.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove(platform::SettingsFolder() / "settings.reg"); }
  void Start() { ASSERT_TRUE(player_.Start()); }
  static std::int32_t Stored(const char* name, std::int32_t absent = -1) {
    return ReadRegDword(HKEY_CURRENT_USER, kSettingsKey, QString::fromLatin1(name), absent);
  }
  QRadioButton* Option(int rate) {
    return window_.findChild<QRadioButton*>(QStringLiteral("optBitrate_%1").arg(rate));
  }

  QuietMessages messages_;
  StartedPlayer player_{messages_};
  frmVornel& window_ = player_.window;
};

TEST_F(SettingsTest, FirstStartSelects64AndStoresIt) {
  Start();
  EXPECT_TRUE(Option(64)->isChecked());
  EXPECT_EQ(window_.defaultBitrate(), 64);
  EXPECT_FALSE(window_.trayNotice().chkDontShow()->isChecked());
  EXPECT_FALSE(window_.trayNotice().isVisible()) << "made by the settings, not shown";
  EXPECT_EQ(Stored("default_bitrate"), 64);
  EXPECT_EQ(Stored("tray_tip"), -1) << "only the tray notice writes it";
}

TEST_F(SettingsTest, StoredValuesComeBackAndUnusableOnesFallBack) {
  const struct {
    const char* seed;  // written as text when it is not a number
    std::int32_t dword;
    int selected;
  } cases[] = {{nullptr, 128, 128}, {nullptr, 100, 64}, {"128", 0, 64}};
  for (const auto& c : cases) {
    std::filesystem::remove(platform::SettingsFolder() / "settings.reg");
    if (c.seed != nullptr) {
      platform::HKEY key = 0;
      ASSERT_EQ(platform::RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Vornel", &key), platform::ERROR_SUCCESS);
      platform::RegSetValueExA(key, "default_bitrate", 0, platform::REG_SZ,
                               reinterpret_cast<const platform::BYTE*>(c.seed), 4);
      platform::RegCloseKey(key);
    } else {
      WriteRegDword(HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("default_bitrate"), c.dword);
    }
    window_.LoadSettings();
    EXPECT_TRUE(Option(c.selected)->isChecked()) << c.dword;
    EXPECT_EQ(window_.defaultBitrate(), c.selected);
    EXPECT_EQ(Stored("default_bitrate"), c.selected) << "written back as a DWORD";
  }
}

TEST_F(SettingsTest, TrayTipZeroTicksTheNoticesBox) {
  WriteRegDword(HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("tray_tip"), 0);
  Start();
  EXPECT_TRUE(window_.trayNotice().chkDontShow()->isChecked());
}

TEST_F(SettingsTest, OptionsPanelOpensSetsTheRateAndCloses) {
  Start();
  auto* panel = window_.findChild<QFrame*>(QStringLiteral("frmOptions"));
  auto* play = window_.findChild<ImageButton*>(QStringLiteral("btnPlay"));
  QTest::mouseClick(window_.findChild<ImageButton*>(QStringLiteral("btnMenu")), Qt::LeftButton, {}, QPoint(4, 4));
  ASSERT_TRUE(panel->isVisible());

  QTest::mouseClick(Option(128), Qt::LeftButton, {}, QPoint(4, 8));
  EXPECT_EQ(window_.defaultBitrate(), 128);
  EXPECT_EQ(Stored("default_bitrate"), 128) << "each click writes through";

  play->setGrayscale(0);  // as while a stream plays
  QTest::mouseClick(window_.findChild<ImageButton*>(QStringLiteral("btnOptionsOK")), Qt::LeftButton, {},
                    QPoint(4, 4));
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(play->grayscale(), 6);
}

}  // namespace
}  // namespace vornel::ui
