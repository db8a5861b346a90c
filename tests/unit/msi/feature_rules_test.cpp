// portable
#include "feature_rules.h"

#include <gtest/gtest.h>

using namespace feature_rules;

TEST(FeatureRules, PropertyListParsing) {
  struct Case {
    const wchar_t* text;
    PropertyMap expected;
  };
  const Case cases[] = {
      {L"/qn ADDLOCAL=Core QZPROP=after", {{L"ADDLOCAL", L"Core"}, {L"QZPROP", L"after"}}},
      {L"  A=\"x y\"  B=2", {{L"A", L"x y"}, {L"B", L"2"}}},
      {L"A=\"a\"\"b\"", {{L"A", L"ab"}}},
      {L"A=\"a\"\"\"b\"", {{L"A", L"a\"b"}}},
      {L"A=1 B= A=3", {{L"A", L"3"}, {L"B", L""}}},  // a later entry replaces
      {L"A=1 /l*v log.txt", {{L"A", L"1"}}},           // no further "=" ends the list
      {L"A=\"open quote B=2", {{L"A", L"open quote B=2"}}},
      {L"=x B=y", {{L"B", L"y"}}},                     // no name, no entry
      {L"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsePropertyList(c.text), c.expected) << c.text;
}

TEST(FeatureRules, SelectionFromPropertiesAndCosting) {
  const std::vector<std::wstring> package = {L"Core", L"Docs", L"Help"};
  struct Case {
    const wchar_t* properties;
    bool open;  // a package to read the Feature table and costing from
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"ADDLOCAL=ALL REMOVE=Help", true, L"Core,Docs"},  // REMOVE comes after ADDLOCAL
      {L"REMOVE=Help ADDLOCAL=ALL", true, L"Core,Docs"},  // whatever the order written
      {L"ADDLOCAL=Core,,Docs", false, L"Core,Docs"},      // empty names are ignored
      {L"ADDLOCAL=all", false, L""},                      // ALL needs the package's table
      {L"ADDSOURCE=Docs ADDDEFAULT=Help", true, L"Docs,Help"},
      {L"ADDLOCAL=Docs ADVERTISE=Docs", true, L""},        // advertised is not added
      {L"REMOVE=Help", true, L""},                         // costing is not asked then
      {L"REINSTALL=Docs,Help", true, L"Docs"},             // installed states: Docs 3, Help 2
      {L"REINSTALL=ALL", true, L"Core,Docs"},
      {L"/qn QZPROP=after", true, L"Core"},                // costing: Core local, Docs absent, Help advertised
      {L"/qn QZPROP=after", false, L""},
  };
  FeatureFacts facts;
  facts.installed_state = [](const std::wstring& name) { return name == L"Help" ? kAbsent : kLocal; };
  facts.costed_state = [](const std::wstring& name) {
    return name == L"Core" ? kLocal : name == L"Docs" ? kAbsent : kAdvertised;
  };
  for (const Case& c : cases) {
    facts.features = c.open ? &package : nullptr;
    EXPECT_EQ(select_features(ParsePropertyList(c.properties), facts), c.expected) << c.properties;
  }
}

TEST(FeatureRules, CostingTransformsBesideThePackage) {
  struct Case {
    const wchar_t* transforms;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"a.mst;;sub\\b.mst", {L"C:\\pkg\\a.mst", L"C:\\pkg\\sub\\b.mst"}},
      {L"D:\\t\\c.mst;\\\\server\\share\\d.mst;:InstanceId2.mst",
       {L"D:\\t\\c.mst", L"\\\\server\\share\\d.mst", L":InstanceId2.mst"}},
      {L"@e.mst;f.mst", {L"C:\\pkg\\e.mst", L"C:\\pkg\\f.mst"}},
      {L"", {}},
  };
  for (const Case& c : cases) {
    PropertyMap properties = {{L"TRANSFORMS", c.transforms}};
    EXPECT_EQ(costing_transforms(properties, L"C:\\pkg"), c.expected) << c.transforms;
  }
  EXPECT_TRUE(costing_transforms({}, L"C:\\pkg").empty());
}
