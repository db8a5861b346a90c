// The prerequisite manager over a stand-in session: which listed prerequisites a
// pass takes (launch mode, feature list, resume index), and the registry state a
// pass reads and leaves.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "../support/scratch.h"
#include "SetupPrereqMgr.h"
#include "package/LaunchSettings.h"
#include "support/process_state.h"
#include "support/utils.h"

namespace {

const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

class FakeSession : public CSetupPrereqMgrCallback {
 public:
  int mode = 0;
  std::map<std::wstring, std::wstring> section;  // QZSetupPrerequisites
  std::map<std::wstring, std::string> members;
  std::map<uint32_t, std::wstring> values;
  int resume = -1;
  LaunchSettings settings;

  int get_launch_mode() override { return mode; }
  void delete_folder_later(const std::wstring&) override {}
  HWND get_setup_dialog() override { return nullptr; }
  bool setup_cancelled() override { return false; }
  void set_progress(int) override {}
  void set_value(uint32_t id, const std::wstring& text, bool) override { values[id] = text; }
  std::wstring get_value(uint32_t id) override { return values.count(id) ? values[id] : std::wstring(); }
  bool has_value(uint32_t id) override { return values.count(id) && !values[id].empty(); }
  void set_resume_index(int index) override { resume = index; }
  int get_resume_index() override { return resume; }
  LaunchSettings& get_launch_settings() override { return settings; }
  bool extract_member(const std::wstring& name, bool, bool, const std::wstring*, bool) override {
    if (!members.count(name)) return false;
    std::wstring path = qzproc::temp_folder() + L"\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(h, members[name].data(), static_cast<DWORD>(members[name].size()), &put, nullptr);
    CloseHandle(h);
    return true;
  }
  int create_setup_dialog() override { return 1; }
  std::wstring get_setting(const std::wstring& s, const std::wstring& key, const std::wstring&) override {
    return s == L"QZSetupPrerequisites" && section.count(key) ? section[key] : std::wstring();
  }
  bool locate_package(std::wstring&) override { return false; }
  int ask_reboot() override { return 1; }
  void append_relaunch_switches(std::wstring&) override {}
  void set_status_text(const std::wstring&) override {}
  bool stream_contains(const std::wstring& name) override { return members.count(name) != 0; }
  std::wstring strip_relaunch_switches(const std::wstring& line) override { return line; }
};

std::string prq_text(const char* behavior) {
  return std::string("<SetupPrereq><properties Id=\"P\"/><execute file=\"none.exe\"/><behavior ") + behavior +
         "/></SetupPrereq>";
}

class PrqManager : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    qzproc::set_temp_folder(dir_);
    session_.settings.product_name = L"QzPrqManagerTest";
    const wchar_t* names[] = {L"a.prq", L"f.prq", L"g.prq", L"h.prq"};
    for (int i = 0; i < 4; ++i) {
      session_.section[L"PreReq" + std::to_wstring(i)] = names[i];
      session_.members[names[i]] = prq_text(i == 3 ? "Hidden=\"1\" Lua=\"1\"" : "Optional=\"0\"");
    }
    session_.section[L"PreReqFeatures1"] = L"Core,Docs";
    session_.section[L"PreReqFeatures2"] = L"Other";
  }
  void TearDown() override {
    qzproc::set_temp_folder(L"");
    ScratchTest::TearDown();
  }
  std::set<int> scheduled(CSetupPrereqMgr& m) {
    std::set<int> out;
    for (const auto& [index, entry] : m.entries()) out.insert(index);
    return out;
  }
  static void set_user_value(const std::wstring& name, const std::wstring& data) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kCurrentVersion, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
              0);
    RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
  static bool user_value_exists(const std::wstring& name) {
    std::wstring text;
    return qz::RegQueryString(HKEY_CURRENT_USER, kCurrentVersion, name, 0, &text) == ERROR_SUCCESS;
  }
  FakeSession session_;
};

}  // namespace

TEST_F(PrqManager, PassesTakeTheirPrerequisites) {
  struct Row {
    int mode;
    const wchar_t* features;
    int resume;
    std::set<int> scheduled;
    bool needs_elevation;
    bool any_visible;
    bool feature_bound_seen;  // value 15
  } rows[] = {
      {0, L"", -1, {0, 3}, true, true, true},        // before feature selection: only those without features
      {0, L"X,,Docs", -1, {1}, true, true, true},    // a feature-bound pass: only matching feature lists
      {0, L"", 0, {3}, false, false, true},          // index 0 was installed before the restart
      {0, L"", 7, {}, false, false, true},           // an index beyond the list skips all
      {1, L"Docs", -1, {}, false, false, false},     // administrative with features: the loop ends at once
      {1, L"", -1, {0, 1, 2, 3}, true, true, true},  // administrative: every one is marked
      {2, L"", -1, {0, 3}, true, true, true},        // repair collects as install does
  };
  for (const Row& r : rows) {
    session_.mode = r.mode;
    session_.values.clear();
    CSetupPrereqMgr manager(session_);
    EXPECT_EQ(session_.resume, -1);
    session_.resume = r.resume;
    bool elevation = !r.needs_elevation, visible = !r.any_visible;
    EXPECT_EQ(manager.CollectPrerequisites(r.features, &elevation, &visible), !r.scheduled.empty()) << r.features;
    EXPECT_EQ(scheduled(manager), r.scheduled) << r.mode << " " << r.features << " " << r.resume;
    EXPECT_EQ(elevation, r.needs_elevation) << r.features;
    EXPECT_EQ(visible, r.any_visible) << r.features;
    // Reading a feature list marks the package as having feature-bound prerequisites.
    EXPECT_EQ(session_.get_value(15), r.feature_bound_seen ? L"1" : L"") << r.mode << " " << r.features;
  }
}

TEST_F(PrqManager, RegistryStateOfAPass) {
  const std::wstring resume = L"%QZ_PREREQ%-QzPrqManagerTest", saved = L"%QZ_PREREQF%-QzPrqManagerTest";
  // A repair collects but installs nothing, and leaves the install-mode state alone.
  session_.mode = 2;
  set_user_value(resume, L"1");
  CSetupPrereqMgr repair(session_);
  EXPECT_EQ(repair.RunPrerequisites(1, L"", false, nullptr), CSetupPrereqMgr::kCarryOn);
  EXPECT_TRUE(user_value_exists(resume));

  // Saved properties end the pass before feature selection at once.
  session_.mode = 0;
  set_user_value(saved, L"A=1 B=\"2 3\"");
  CSetupPrereqMgr install(session_);
  EXPECT_EQ(install.RunPrerequisites(1, L"", false, nullptr), CSetupPrereqMgr::kCarryOn);
  EXPECT_EQ(session_.get_value(17), L"A=1 B=\"2 3\"");
  EXPECT_FALSE(user_value_exists(saved));
  EXPECT_TRUE(user_value_exists(resume));

  // A pass with nothing to install consumes the resume index and removes both values.
  session_.section.clear();
  set_user_value(saved, L"x");
  CSetupPrereqMgr empty(session_);
  EXPECT_EQ(empty.RunPrerequisites(1, L"Core", false, nullptr), CSetupPrereqMgr::kCarryOn);
  EXPECT_EQ(session_.resume, 1);
  EXPECT_FALSE(user_value_exists(resume));
  EXPECT_FALSE(user_value_exists(saved));
}
