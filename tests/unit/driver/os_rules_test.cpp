// portable
// The pure rules of the system and disk checks: the system verdict, version
// texts, the engine-version selection over a setup.ini, the upgrade policy and
// the free-space arithmetic.
#include "os_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "package/IniProfile.h"
#include "package/stream_format.h"

using os_rules::Version;

namespace {

std::wstring latin1(qz::ByteView bytes, uint32_t) { return std::wstring(bytes.begin(), bytes.end()); }

qz::IniProfile profile_of(const std::string& text) {
  qz::IniProfile p;
  p.load_bytes(qz::ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), latin1);
  return p;
}

OsRecord nt(int major, int minor, int build = 0) { return os_rules::classify_system(major, minor, build, 2, 9); }

os_rules::CsdReader csd_is(uint32_t level) {
  return [level] { return std::optional<uint32_t>(level); };
}
const os_rules::CsdReader kNoCsdKey = [] { return std::optional<uint32_t>(); };

}  // namespace

TEST(OsRules, ClassifySystem) {
  struct Row {
    int major, minor, build, platform_id, arch;
    int code;
    bool supported;
    int stored_build;
  } rows[] = {
      {10, 0, 19041, 2, 9, 2, true, 19041},          // x64
      {5, 0, 2195, 2, 0, 2, true, 2195},             // Windows 2000
      {4, 0, 1381, 2, 0, 2, true, 1381},             // NT 4
      {3, 51, 1057, 2, 0, 2, false, 1057},           // NT 3.51
      {4, 0, 1381, 2, 1, 4, true, 1381},             // MIPS
      {4, 0, 1381, 2, 2, 3, true, 1381},             // Alpha
      {4, 0, 1381, 2, 3, 5, true, 1381},             // PowerPC
      {4, 10, 0x040A08AE, 1, 0, 1, true, 0x08AE},    // 98: low 16 bits of the build
      {4, 90, 0x045A0BB8, 1, 0, 1, true, 0x0BB8},    // Me
      {3, 10, 0, 0, 0, 7, false, 0},                 // Win32s
      {6, 0, 0, 3, 0, 1, false, 0},                  // unknown platform
  };
  for (const Row& r : rows) {
    OsRecord o = os_rules::classify_system(r.major, r.minor, r.build, r.platform_id, r.arch);
    SCOPED_TRACE(testing::Message() << r.major << "." << r.minor << " id " << r.platform_id << " arch " << r.arch);
    EXPECT_EQ(o.platform_code, r.code);
    EXPECT_EQ(o.supported, r.supported);
    EXPECT_EQ(o.build, r.stored_build);
    EXPECT_EQ(o.major, r.major);
    EXPECT_EQ(o.minor, r.minor);
    EXPECT_EQ(o.platform_id, r.platform_id);
  }
}

TEST(OsRules, ParseVersion) {
  struct Row {
    const wchar_t* text;
    Version v;
  } rows[] = {
      {L"3.1.4000.2435", {3, 1, 4000, 2435}},
      {L"2.0.2600.2", {2, 0, 2600, 2}},
      {L"1,20;1827-0", {1, 20, 1827, 0}},
      {L"4.5", {4, 5, 0, 0}},
      {L"", {0, 0, 0, 0}},
      {L"v3.1", {0, 0, 0, 0}},
      {L"3..1", {3, 0, 0, 0}},
      {L"1.2.3.4.5", {1, 2, 3, 4}},
      // Too large for 32 bits: saturates, as the version comparison reads it.
      {L"4294967296.1", {4294967295u, 1, 0, 0}},
      {L"1.99999999999999999", {1, 4294967295u, 0, 0}},
      {L"4294967295", {4294967295u, 0, 0, 0}},
  };
  for (const Row& r : rows) EXPECT_EQ(os_rules::parse_version(r.text), r.v) << std::string(r.text, r.text + wcslen(r.text));
}

TEST(OsRules, RequirementMatches) {
  os_rules::OsRequirement xp{5, 1, 2600, 2, 2, 0};
  Version engine = {3, 1, 0, 0};
  struct Row {
    OsRecord os;
    bool match;
  } rows[] = {
      {nt(5, 1, 2600), true},
      {nt(5, 1, 2599), false},  // build below
      {nt(5, 0, 2600), false},  // minor below
      {nt(5, 2, 3790), false},  // minor reaches MinorVerMax
      {nt(6, 1, 7601), false},  // other major
      {os_rules::classify_system(5, 1, 2600, 1, 0), false},  // other platform id
  };
  for (const Row& r : rows)
    EXPECT_EQ(os_rules::requirement_matches(xp, r.os, engine, kNoCsdKey), r.match)
        << r.os.major << "." << r.os.minor << "." << r.os.build << " id " << r.os.platform_id;

  // Without MinorVerMax nothing matches: minor < 0 never holds.
  os_rules::OsRequirement no_max{10, 0, 0, 2, 0, 0};
  EXPECT_FALSE(os_rules::requirement_matches(no_max, nt(10, 0), engine, kNoCsdKey));
}

TEST(OsRules, ServicePackRule) {
  os_rules::OsRequirement nt4{4, 0, 0, 2, 1, 1536};
  Version engine = {2, 0, 2600, 2};
  OsRecord os = nt(4, 0, 1381);
  EXPECT_FALSE(os_rules::requirement_matches(nt4, os, engine, csd_is(0x500)));
  EXPECT_TRUE(os_rules::requirement_matches(nt4, os, engine, csd_is(0x600)));
  EXPECT_TRUE(os_rules::requirement_matches(nt4, os, engine, kNoCsdKey));  // key cannot be opened

  // NT 4 with an engine up to 1.20.1827.0 needs service pack 3 (768) whatever the section says.
  EXPECT_EQ(os_rules::needed_service_pack(nt4, {1, 20, 1827, 0}), 768);
  EXPECT_EQ(os_rules::needed_service_pack(nt4, {1, 10, 0, 0}), 768);
  EXPECT_EQ(os_rules::needed_service_pack(nt4, {1, 20, 1827, 1}), 1536);
  os_rules::OsRequirement w2k{5, 0, 0, 2, 1, 0};
  EXPECT_EQ(os_rules::needed_service_pack(w2k, {1, 10, 0, 0}), 0);
  EXPECT_TRUE(os_rules::requirement_matches(w2k, nt(5, 0), {1, 10, 0, 0}, csd_is(0)));

  // The registry is not asked on other platforms or when no level is needed.
  bool asked = false;
  os_rules::CsdReader spy = [&] {
    asked = true;
    return std::optional<uint32_t>(0);
  };
  os_rules::OsRequirement me{4, 90, 0, 1, 91, 1536};
  EXPECT_TRUE(os_rules::requirement_matches(me, os_rules::classify_system(4, 90, 3000, 1, 0), engine, spy));
  EXPECT_TRUE(os_rules::requirement_matches(w2k, nt(5, 0), engine, spy));
  EXPECT_FALSE(asked);
}

namespace {
const char kTwoEngines[] =
    "[MsiVersion]\r\n"
    "2.0.2600.2=Engine20\r\n"
    "3.1.4000.2435=Engine31\r\n"
    "[Engine20]\r\nWin2000=\r\nNT4=\r\n"
    "[Engine31]\r\nWinXP=\r\n"
    "[Win2000]\r\nMajorVer=5\r\nMinorVer=0\r\nPlatformId=2\r\nMinorVerMax=1\r\n"
    "[NT4]\r\nMajorVer=4\r\nPlatformId=2\r\nMinorVerMax=1\r\nServicePack=1536\r\n"
    "[WinXP]\r\nMajorVer=5\r\nMinorVer=1\r\nBuildNo=2600\r\nPlatformId=2\r\nMinorVerMax=3\r\n";
}

TEST(EngineSelection, HighestMatchingVersionWins) {
  qz::IniProfile p = profile_of(kTwoEngines);
  struct Row {
    OsRecord os;
    const wchar_t* expected;
  } rows[] = {
      {nt(5, 1, 2600), L"3.1.4000.2435"},
      {nt(5, 2, 3790), L"3.1.4000.2435"},
      {nt(5, 0, 2195), L"2.0.2600.2"},
      {nt(4, 0, 1381), L"2.0.2600.2"},  // no CSDVersion key: passes
      {nt(10, 0, 19041), L"2.0.2600.2"},  // nothing matches: the lowest version tried
  };
  for (const Row& r : rows) {
    auto v = os_rules::select_engine_version(p, r.os, kNoCsdKey);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(*v, r.expected) << r.os.major << "." << r.os.minor;
  }
  // NT 4 with service pack 5 is refused by the NT4 section; 2.0 is still the value left.
  EXPECT_EQ(*os_rules::select_engine_version(p, nt(4, 0, 1381), csd_is(0x500)), L"2.0.2600.2");
}

TEST(EngineSelection, TriesHigherVersionFirstAndStopsAtFirstMatch) {
  // Both engines list the same system: the higher one is chosen.
  qz::IniProfile p = profile_of(
      "[MsiVersion]\n2.0=L\n4.5=L\n3.0=L\n[L]\nWin10=\n[Win10]\nMajorVer=10\nPlatformId=2\nMinorVerMax=1\n");
  EXPECT_EQ(*os_rules::select_engine_version(p, nt(10, 0), kNoCsdKey), L"4.5");
}

TEST(EngineSelection, EqualVersionsKeepProfileOrder) {
  // "3,1" and "3.1" read as the same version; the profile holds "3,1" first.
  qz::IniProfile p = profile_of("[MsiVersion]\n3.1=A\n3,1=B\n[A]\nX=\n[B]\nX=\n[X]\nMajorVer=10\nPlatformId=2\nMinorVerMax=1\n");
  EXPECT_EQ(*os_rules::select_engine_version(p, nt(10, 0), kNoCsdKey), L"3,1");
}

TEST(EngineSelection, OverflowingVersionRanksHighest) {
  // A wrapping reader would read 4294967296 as 0 and try 1.0 first.
  qz::IniProfile p = profile_of("[MsiVersion]\n1.0=A\n4294967296=B\n[A]\nX=\n[B]\nX=\n"
                                "[X]\nMajorVer=10\nPlatformId=2\nMinorVerMax=1\n");
  EXPECT_EQ(*os_rules::select_engine_version(p, nt(10, 0), kNoCsdKey), L"4294967296");
}

TEST(EngineSelection, NoSectionOrEmptySectionSelectsNothing) {
  EXPECT_FALSE(os_rules::select_engine_version(profile_of("[Startup]\nPackageName=a.msi\n"), nt(10, 0), kNoCsdKey));
  EXPECT_FALSE(os_rules::select_engine_version(profile_of("[MsiVersion]\n[Other]\nx=1\n"), nt(10, 0), kNoCsdKey));
}

TEST(EngineSelection, OverlongTextsAreCutTo19Characters) {
  // The key is kept to 19 characters, and so is the listing name it points to.
  qz::IniProfile p = profile_of(
      "[MsiVersion]\n1.2.3.4567890123456789=ListingNameThatIsLong\n"
      "[ListingNameThatIsL]\nWin10=\n[Win10]\nMajorVer=10\nPlatformId=2\nMinorVerMax=1\n");
  auto v = os_rules::select_engine_version(p, nt(10, 0), kNoCsdKey);
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, L"1.2.3.4567890123456");
}

TEST(EngineSelection, HostileProfilesEndWithAValue) {
  const char* hostile[] = {
      "[MsiVersion]\nx=MsiVersion\n",                        // listing is the engine section itself
      "[MsiVersion]\n1=L\n[L]\nL=\nMsiVersion=\n",          // listing names itself and the engine section
      "[MsiVersion]\n1=missing\n",                           // listing section absent
      "[MsiVersion]\n=\n[]\n=\n",                            // empty names
      "[MsiVersion]\n1=L\n[L]\nS=\n[S]\nMajorVer=99999999999999999999\nMinorVerMax=-99999999999\n",
  };
  for (const char* text : hostile) {
    qz::IniProfile p = profile_of(text);
    auto v = os_rules::select_engine_version(p, nt(10, 0), kNoCsdKey);
    EXPECT_TRUE(v.has_value()) << text;
  }
  std::string many = "[MsiVersion]\n";
  for (int i = 0; i < 2000; ++i) many += std::to_string(i) + "." + std::string(40, '.') + "=L\n";
  EXPECT_TRUE(os_rules::select_engine_version(profile_of(many), nt(10, 0), kNoCsdKey).has_value());
}

TEST(OsRules, UpgradeMode) {
  struct Row {
    int on_upgrade;
    bool silent_or_auto;
    int mode;
  } rows[] = {{1, false, 0}, {1, true, 1}, {2, false, 1}, {2, true, 1}, {0, false, 2}, {3, true, 2}, {-1, false, 2}};
  for (const Row& r : rows) EXPECT_EQ(os_rules::upgrade_mode(r.on_upgrade, r.silent_or_auto), r.mode) << r.on_upgrade;
}

TEST(OsRules, FreeSpaceArithmetic) {
  EXPECT_EQ(os_rules::free_kb_from_bytes(0), 0u);
  EXPECT_EQ(os_rules::free_kb_from_bytes(1023), 0u);
  EXPECT_EQ(os_rules::free_kb_from_bytes(1024), 1u);
  EXPECT_EQ(os_rules::free_kb_from_bytes(0x7FFFFFFFull * 1024), 0x7FFFFFFFu);
  EXPECT_EQ(os_rules::free_kb_from_bytes(0x80000000ull * 1024), 0x7FFFFFFFu);
  EXPECT_EQ(os_rules::free_kb_from_bytes(~0ull), 0x7FFFFFFFu);
  EXPECT_EQ(os_rules::needed_kb(1023), 0u);
  EXPECT_EQ(os_rules::needed_kb(0xFFFFFFFFu), 4194303u);
  // A payload above 4 GiB must not wrap to a small need.
  const uint32_t members[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 2};
  EXPECT_EQ(qzstream::total_stored_size(members), 0x200000000ull);
  EXPECT_EQ(os_rules::needed_kb(0x200000000ull), 0x800000ull);
}

TEST(OsRules, TemporaryLocationNeedsADriveLetter) {
  EXPECT_TRUE(os_rules::begins_with_drive_letter(L"C:\\Temp\\"));
  EXPECT_TRUE(os_rules::begins_with_drive_letter(L"z:\\tmp"));
  EXPECT_FALSE(os_rules::begins_with_drive_letter(L"\\\\server\\share\\temp"));
  EXPECT_FALSE(os_rules::begins_with_drive_letter(L""));
  EXPECT_FALSE(os_rules::begins_with_drive_letter(L"1:\\"));
  EXPECT_FALSE(os_rules::begins_with_drive_letter(L"\u00c4:\\"));
}
