// The feature selection against the real msi.dll: features.msi (Core and Help
// installed by default, Docs not) costed as the silent installation would be.
#include <windows.h>

#include <gtest/gtest.h>

#include "feature_selection.h"
#include "launch.h"
#include "msi_library.h"
#include "package/LaunchSettings.h"
#include "prereq_msi.h"
#include "session.h"

namespace {

std::wstring data(const wchar_t* name) {
  wchar_t buffer[1024];
  DWORD n = GetFullPathNameW((std::wstring(L"testdata\\msi\\") + name).c_str(), 1024, buffer, nullptr);
  return std::wstring(buffer, n);
}

struct Selection {
  std::wstring features;
  std::wstring formatted;  // [QZPROP] formatted by the costed package, when one opened
};

const wchar_t kProduct[] = L"{9B4F5D6E-7081-4293-BDAE-2F3A4B5C6D7E}";

Selection select(const wchar_t* package, const std::wstring& properties, const std::wstring& saved = L"") {
  LaunchSettings settings;
  Session session(GetModuleHandleW(nullptr), settings);
  session.set_value(kValueProductCode, kProduct);
  session.set_value(kValueInstallerCommandLine, properties);
  session.set_value(kValueSavedProperties, saved);
  MSIHANDLE installer = 0;
  Selection out;
  out.features = BuildFeatureSelection(session, data(package), &installer);
  if (installer) {
    out.formatted = prq::msi::format_text(installer, L"[QZPROP]");
    qzmsi::CloseHandle(installer);
  }
  return out;
}

}  // namespace

TEST(FeatureSelection, CostedPackageAndPropertyList) {
  struct Case {
    const wchar_t* package;
    const wchar_t* properties;
    const wchar_t* saved;
    const wchar_t* features;
    const wchar_t* formatted;
  };
  const Case cases[] = {
      {L"features.msi", L"/qn ADDLOCAL=ALL REMOVE=Help QZPROP=x", L"", L"Core,Docs", L"x"},
      {L"features.msi", L"/qn QZPROP=\"a b\"", L"", L"Core,Help", L"a b"},  // the package's defaults
      {L"features.msi", L"/qn REMOVE=Help", L"", L"", L""},
      {L"features.msi", L"/qn", L"ADDLOCAL=Docs", L"Docs", L""},  // the saved properties count too
      // No package to cost: only what the list names.
      {L"corrupt.msi", L"/qn ADDLOCAL=Core,,Docs", L"", L"Core,Docs", L""},
  };
  for (const Case& c : cases) {
    Selection s = select(c.package, c.properties, c.saved);
    EXPECT_EQ(s.features, c.features) << c.properties << L" " << c.saved;
    EXPECT_EQ(s.formatted, c.formatted) << c.properties;
  }
}

TEST(FeatureSelection, CostingLeavesTheUiLevelAsItWas) {
  qzmsi::SetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
  MSIHANDLE installer = OpenPackageForCosting(data(L"features.msi"), {{L"REMOVE", L"Help"}});
  ASSERT_NE(installer, 0u);
  INSTALLSTATE installed, action;
  ASSERT_EQ(qzmsi::GetFeatureState(installer, L"Help", &installed, &action), 0u);
  EXPECT_NE(action, INSTALLSTATE_LOCAL);  // the properties were set before costing
  qzmsi::CloseHandle(installer);
  EXPECT_EQ(OpenPackageForCosting(data(L"no-such.msi"), {}), 0u);
  EXPECT_EQ(qzmsi::SetInternalUI(INSTALLUILEVEL_DEFAULT, nullptr), INSTALLUILEVEL_BASIC);
}

TEST(FeatureSelection, ReinstallTakesTheInstalledStates) {
  const std::wstring msiexec = L"\"MSIEXEC.EXE\" ";
  ASSERT_EQ(launch_and_wait(msiexec + L"/i \"" + data(L"features.msi") + L"\" /qn ADDLOCAL=Core,Docs", false), 0);
  EXPECT_EQ(select(L"features.msi", L"/qn REINSTALL=Docs,Help").features, L"Docs");
  EXPECT_EQ(select(L"features.msi", L"/qn REINSTALL=all").features, L"Core,Docs");
  EXPECT_EQ(launch_and_wait(msiexec + L"/x " + kProduct + L" /qn", false), 0);
}
