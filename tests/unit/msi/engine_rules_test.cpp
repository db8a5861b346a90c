// portable
#include "engine_rules.h"

#include <gtest/gtest.h>

using namespace engine_rules;

TEST(EngineRules, ResultsMapToRestartOrMessage) {
  struct Case {
    int result;
    bool restart;
    unsigned message;
  };
  const Case cases[] = {
      {0, false, 0},     {1641, false, 0},    {3010, false, 0},  {-3, false, 0},   {7001, false, 7001},
      {-8, true, 0},     {-7, false, 1644},   {-4, false, 1629}, {1, false, 1628}, {-1, false, 1628},
      {1603, false, 1628}, {-2147467259, false, 1628},
  };
  for (const Case& c : cases) {
    Effect e = result_effect(c.result);
    EXPECT_EQ(e.restart, c.restart) << c.result;
    EXPECT_EQ(e.message, c.message) << c.result;
  }
}

TEST(EngineRules, ArgumentsHandedToTheEngine) {
  EXPECT_EQ(engine_language(1031, 1), 0);
  EXPECT_EQ(engine_language(1031, 0), 0);
  EXPECT_EQ(engine_language(1031, 2), 1031);
  EXPECT_EQ(setup_name(true, L"C:\\t\\setup.exe"), L"setup.exe");
  EXPECT_EQ(setup_name(false, L"C:\\t\\my setup.exe"), L"C:\\t\\my setup.exe");
  EXPECT_EQ(setup_name(false, std::wstring(2000, L'a')).size(), 1024u);
  EXPECT_TRUE(remove_only(L"/s /removeonly"));
  EXPECT_FALSE(remove_only(L"/s /REMOVEONLY"));
  Target t = setup_target(1, L"C:\\p.msi", L"{P}");
  EXPECT_EQ(t.text, L"C:\\p.msi");
  EXPECT_EQ(t.is_product_code, 0);
  t = setup_target(0, L"C:\\p.msi", L"{P}");
  EXPECT_EQ(t.text, L"{P}");
  EXPECT_EQ(t.is_product_code, 1);
}

TEST(EngineRules, EngineRowsByNamePrefix) {
  struct Case {
    const wchar_t* name;
    bool engine, is64;
  };
  const Case cases[] = {
      {L"QZSetup.dll", true, false},     {L"QZSetup.dll.old", true, false}, {L"QZSetup64.dll", true, true},
      {L"QZSetup64.dllx", true, true},   {L"qzsetup.dll", false, false},    {L"QZSetup.dl", false, false},
      {L"QZSetup32.dll", false, false},  {L"", false, false},               {L"xQZSetup.dll", false, false},
  };
  for (const Case& c : cases) {
    bool is64 = !c.is64;
    EXPECT_EQ(is_engine_row(c.name, &is64), c.engine) << c.name;
    if (c.engine) {
      EXPECT_EQ(is64, c.is64) << c.name;
    }
  }
}

TEST(EngineRules, ResourceFolderFromTempPathGuidOrRefused) {
  const wchar_t guid[] = L"{E3B5B7C5-1111-2222-3333-0123456789AB}";
  std::wstring name;
  ASSERT_TRUE(resource_folder_name(guid, false, &name));
  EXPECT_EQ(name, L"{E3B5B7C5}");
  ASSERT_TRUE(resource_folder_name(guid, true, &name));
  EXPECT_EQ(name, L"{456789AB}");
  // Anything else would become a folder name the engine's files could escape by.
  for (const wchar_t* bad : {L"", L"E3B5B7C5-1111-2222-3333-0123456789AB", L"{..\\..\\x-1111-2222-3333-0123456789AB}",
                             L"{E3B5B7C5-1111-2222-3333-0123456789AB", L"{E3B5B7C5-1111-2222-3333-0123456789AB}x",
                             L"{E3B5B7C5-1111-2222-3333-01234567\\9AB}", L"{G3B5B7C5-1111-2222-3333-0123456789AB}"}) {
    name = L"kept";
    EXPECT_FALSE(resource_folder_name(bad, false, &name)) << bad;
    EXPECT_EQ(name, L"kept");
  }
}
