// portable
#include "package/LaunchSettings.h"

#include <gtest/gtest.h>

TEST(LaunchSettingsSwitches, FlagsValuesAndRemainingText) {
  LaunchSettings s;
  std::wstring text =
      L"  /l0x0407 /ig\"{1234}\" /no_engine /s /auto /hide_progress /hide_splash /hide_usd /reboot:x /package:1 "
      L"/f2\"C:\\s log.txt\" /no_deleter /no_selfdeleter /clone_wait /show_err_dlg /show_err_msg "
      L"/show_err_msg_invalid_identity /delayedstart:5 /tempdisk1folder:x /extract_all:1 /media_path:m "
      L"/installfromweb:1 /QZ_OriginalLauncher:y /waitingforchildprocess /runfromtemp /QZ_temp /keep ";
  s.apply_settings_switches(text);
  EXPECT_EQ(s.requested_language, 1031);
  EXPECT_EQ(s.install_guid, L"{1234}");
  EXPECT_TRUE(s.no_engine && s.silent && s.auto_);
  EXPECT_TRUE(s.hide_progress && s.hide_splash && s.hide_usd);
  EXPECT_TRUE(s.reboot && s.package);
  EXPECT_EQ(s.script_log_path, L"C:\\s log.txt");
  EXPECT_TRUE(s.no_deleter && s.no_selfdeleter && s.clone_wait);
  EXPECT_TRUE(s.show_err_dlg && s.show_err_msg && s.show_err_msg_invalid_identity);
  // Switches looked up without consuming them stay in the text.
  EXPECT_EQ(text, L"/no_engine /s /auto /reboot:x /package:1 /f2\"C:\\s log.txt\" /keep");
}

TEST(LaunchSettingsSwitches, ExactSwitchesNeedExactTokens) {
  LaunchSettings s;
  std::wstring text = L"/silent /autox /show_err_msg_invalid_identity /runfromtemp2 /l1031";
  s.apply_settings_switches(text);
  EXPECT_FALSE(s.silent);
  EXPECT_FALSE(s.auto_);
  EXPECT_FALSE(s.show_err_msg);
  EXPECT_TRUE(s.show_err_msg_invalid_identity);
  EXPECT_EQ(s.requested_language, 1031);
  EXPECT_EQ(text, L"/silent /autox /runfromtemp2");
}

TEST(LaunchSettingsSwitches, EmptyAndUntouchedText) {
  LaunchSettings s;
  std::wstring text = L"\t\n";
  s.apply_settings_switches(text);
  EXPECT_EQ(text, L"");
  text = L" PROP=1 \r\n";
  s.apply_settings_switches(text);
  EXPECT_EQ(text, L"PROP=1");
  EXPECT_EQ(s.requested_language, 0);
}
