// portable
#include "instance_rules.h"

#include <gtest/gtest.h>

#include "package/text_encoding.h"
#include "support/error_codes.h"

using namespace instance_rules;

namespace {

const wchar_t kCode3[] = L"{11111111-2222-3333-4444-555555555555}";

qz::IniProfile profile(const std::string& text) {
  qz::IniProfile p;
  qz::Bytes bytes(text.begin(), text.end());
  p.load_bytes(bytes, qz::latin1_decode);
  return p;
}

InstanceTable table_of(const std::string& text) {
  InstanceTable t;
  load_table(profile(text), OwnCodes{L"{OWN}", L"{UPG}", L"{PKG}", L"1.0"}, &t);
  return t;
}

// Instances 3 and 5 defined; `installed` and `related` mark their states.
InstanceTable two_instances(bool installed3, bool related5, bool default_installed = false) {
  InstanceTable t = table_of(
      "[Instances]\r\ncount=2\r\nkey0=InstanceId3\r\nkey1=InstanceId5\r\n"
      "[InstanceId3]\r\nProductCode={11111111-2222-3333-4444-555555555555}\r\n[InstanceId5]\r\nProductCode={5}\r\n");
  t.instances[3].installed = installed3;
  t.instances[5].related_found = related5;
  t.instances[-1].installed = default_installed;
  return t;
}

}  // namespace

TEST(InstanceTable, ReadsOnlyInstanceEntriesWithinTheCount) {
  InstanceTable t = table_of(
      "[Instances]\r\ncount=9\r\nkey0=Foo\r\nkey1=InstanceId2\r\nkey2=InstanceId-1\r\nkey3=InstanceIdx\r\n"
      "key4=InstanceId7x\r\nkey5=instanceid8\r\nkey6=InstanceId2\r\nkey7=InstanceId4\r\nkey9=InstanceId6\r\n"
      "[InstanceId2]\r\nProductCode={2}\r\nProductName=Two\r\nEmpty=\r\n[InstanceId4]\r\nProductCode={4}\r\n"
      "[Foo]\r\nProductCode={F}\r\n");
  ASSERT_TRUE(t.has_instances());
  std::vector<int> ids;
  for (const auto& [id, r] : t.instances) ids.push_back(id);
  // -1 is the default instance; key9 lies beyond the count, the others are no ids.
  EXPECT_EQ(ids, (std::vector<int>{-1, 2, 4}));
  EXPECT_EQ(t.instances[2].property(L"ProductName"), L"Two");
  EXPECT_EQ(t.instances[2].properties.count(L"Empty"), 0u);
  EXPECT_EQ(t.instances[-1].property(L"ProductCode"), L"{OWN}");
  EXPECT_EQ(t.instances[-1].property(L"UpgradeCode"), L"{UPG}");
  EXPECT_EQ(t.instances[-1].property(L"PackageCode"), L"{PKG}");
  EXPECT_EQ(t.instances[-1].property(L"ProductVersion"), L"1.0");

  // A huge count walks only the keys that exist.
  InstanceTable huge = table_of("[Instances]\r\ncount=2147483647\r\nkey2147483646=InstanceId1\r\n");
  EXPECT_NE(huge.find(1), nullptr);

  for (const char* none : {"", "[Instances]\r\ncount=0\r\nkey0=InstanceId1\r\n",
                           "[Instances]\r\ncount=-5\r\nkey0=InstanceId1\r\n", "[Instances]\r\nkey0=InstanceId1\r\n"}) {
    InstanceTable t0 = table_of(none);
    EXPECT_FALSE(t0.has_instances()) << none;
    EXPECT_TRUE(t0.instances.empty()) << none;  // no default instance either
  }
}

TEST(InstanceTable, UpgradeEntries) {
  InstanceTable t = table_of(
      "[Instances]\r\ncount=1\r\nkey0=InstanceId1\r\n"
      "[UpgardeTable]\r\ncount=3\r\nkey0=x@1.0@2.0@1033,1031@768\r\nkey1=\r\nkey2=only\r\n");
  ASSERT_EQ(t.upgrades.size(), 2u);
  EXPECT_EQ(t.upgrades[0].min_version, L"1.0");
  EXPECT_EQ(t.upgrades[0].max_version, L"2.0");
  EXPECT_EQ(t.upgrades[0].languages, L"1033,1031");
  EXPECT_EQ(t.upgrades[0].attributes, 768u);
  EXPECT_TRUE(t.upgrades[1].min_version.empty() && t.upgrades[1].attributes == 0);

  struct Case {
    const wchar_t* entry;
    const wchar_t* version;
    const wchar_t* language;
    bool match;
  };
  const Case cases[] = {
      {L"@1.0@2.0@@0", L"1.5", L"1033", true},
      {L"@1.0@2.0@@0", L"1.0", L"1033", false},       // minimum exclusive
      {L"@1.0@2.0@@256", L"1.0", L"1033", true},      // minimum inclusive
      {L"@1.0@2.0@@0", L"2.0", L"1033", false},       // maximum exclusive
      {L"@1.0@2.0@@512", L"2.0", L"1033", true},      // maximum inclusive
      {L"@1.0@2.0@@768", L"0.9", L"1033", false},
      {L"@1.0@2.0@@768", L"2.0.0.1", L"1033", false},
      {L"@1.0@2.0@@770", L"1.5", L"1033", false},     // detect only
      {L"@@@@0", L"9.9", L"1033", true},              // no bounds
      {L"@@@1031, 1033@0", L"1.0", L"1033", true},
      {L"@@@1031@0", L"1.0", L"1033", false},
      {L"@@@1031@1024", L"1.0", L"1033", true},       // languages exclusive
      {L"@@@1033@1024", L"1.0", L"1033", false},
      {L"@@@10331@0", L"1.0", L"1033", false},        // whole ids only
  };
  for (const Case& c : cases)
    EXPECT_EQ(upgrade_entry_matches(parse_upgrade_entry(c.entry), c.version, c.language), c.match)
        << c.entry << " " << c.version;
}

TEST(InstanceSelect, SilentAndInteractiveRules) {
  using K = DialogAnswer::Kind;
  struct Case {
    int requested;
    bool silent, patch, installed3, related5;
    K answer;
    int selection;
    bool go_on;
    int id;
    int result;
    bool asked;
  };
  const Case cases[] = {
      // Silent: a missing /instance= takes the default (-1) or, for a patch, all (-2).
      {kAskInstance, true, false, false, false, K::kNext, 0, true, kDefaultInstance, 0, false},
      {kAskInstance, true, true, true, false, K::kNext, 0, true, kAllInstances, 0, false},
      {3, true, false, true, false, K::kNext, 0, true, 3, 0, false},
      {5, true, false, false, false, K::kNext, 0, true, 5, 0, false},
      {kDefaultInstance, true, false, true, false, K::kNext, 0, true, kDefaultInstance, 0, false},
      // Silent and undecidable: 1709.
      {9, true, false, true, false, K::kNext, 0, false, 9, err::kInstanceNotChosen, false},
      {kInvalidInstance, true, false, true, false, K::kNext, 0, false, kInvalidInstance, err::kInstanceNotChosen,
       false},
      {kDefaultInstance, true, true, true, false, K::kNext, 0, false, kDefaultInstance, err::kInstanceNotChosen,
       false},
      {kAllInstances, true, false, true, false, K::kNext, 0, false, kAllInstances, err::kInstanceNotChosen, false},
      // Interactive: nothing installed or related means no question.
      {kAskInstance, false, false, false, false, K::kNext, 3, true, kDefaultInstance, 0, false},
      {kAskInstance, false, false, true, false, K::kNext, 3, true, 3, 0, true},
      {kInvalidInstance, false, false, false, true, K::kNext, 5, true, 5, 0, true},
      {kAskInstance, false, false, true, false, K::kCancel, 3, false, kAskInstance, -1, true},
      {kAskInstance, false, false, true, false, K::kNext, kAskInstance, false, kAskInstance,
       err::kInstanceNotChosen, true},
      {kAskInstance, false, true, true, false, K::kNext, kAllInstances, true, kAllInstances, 0, true},
      // No dialog can ask: the run cannot tell which instance it is for.
      {kAskInstance, false, false, true, false, K::kUnavailable, 0, false, 0, err::kInstanceNotChosen, true},
  };
  for (const Case& c : cases) {
    InstanceTable t = two_instances(c.installed3, c.related5);
    int calls = 0;
    SelectOutcome out = select(t, SelectInput{c.requested, c.silent, c.patch}, [&] {
      ++calls;
      return DialogAnswer{c.answer, c.selection};
    });
    SCOPED_TRACE(testing::Message() << "requested " << c.requested << " silent " << c.silent << " patch " << c.patch);
    EXPECT_EQ(out.go_on, c.go_on);
    if (c.go_on || c.result != err::kInstanceNotChosen || c.answer != K::kUnavailable) {
      EXPECT_EQ(out.id, c.id);
    }
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.asked, c.asked);
    EXPECT_EQ(calls, c.asked ? 1 : 0);
    if (c.go_on) {
      EXPECT_EQ(out.changed, c.id != c.requested);
    }
  }
}

TEST(InstanceDialog, OptionsAndRows) {
  // One free instance: the first option installs it; the list has the installed one.
  DialogChoices d = dialog_choices(two_instances(true, false, true), false);
  EXPECT_EQ(d.first_choice, 5);
  EXPECT_TRUE(d.first_enabled);
  EXPECT_EQ(d.rows, (std::vector<int>{-1, 3}));
  EXPECT_TRUE(d.second_enabled);
  // All installed or related: no new instance to offer.
  d = dialog_choices(two_instances(true, true, true), false);
  EXPECT_EQ(d.first_choice, kAskInstance);
  EXPECT_FALSE(d.first_enabled);
  EXPECT_EQ(d.rows, (std::vector<int>{-1, 3, 5}));
  // The default instance, when free, is the lowest free one.
  d = dialog_choices(two_instances(false, false), false);
  EXPECT_EQ(d.first_choice, kDefaultInstance);
  EXPECT_FALSE(d.second_enabled);
  // A patch offers all instances whatever is installed.
  d = dialog_choices(two_instances(true, true, true), true);
  EXPECT_EQ(d.first_choice, kAllInstances);
  EXPECT_TRUE(d.first_enabled);
}

TEST(InstanceApply, PropertyListAdditions) {
  InstanceTable t = two_instances(true, false);
  // An installed instance is named by its product code, once.
  std::wstring list = L"FOO=1";
  Applied a = apply(t, 3, list);
  EXPECT_EQ(list, std::wstring(L"FOO=1 /n ") + kCode3);
  EXPECT_EQ(a.forwarded, std::wstring(L"/n ") + kCode3);
  a = apply(t, 3, list);
  EXPECT_EQ(list, std::wstring(L"FOO=1 /n ") + kCode3);
  EXPECT_TRUE(a.forwarded.empty());

  // A new instance gets its transform (merged with the list's) and MSINEWINSTANCE, once.
  list = L"TRANSFORMS=\"a.mst\" FOO=1";
  a = apply(t, 5, list);
  EXPECT_EQ(list, L"TRANSFORMS=\"a.mst;:InstanceId5.mst\" FOO=1 MSINEWINSTANCE=1");
  EXPECT_EQ(a.forwarded, L"TRANSFORMS=:InstanceId5.mst MSINEWINSTANCE=1");
  std::wstring again = list;
  a = apply(t, 5, again);
  EXPECT_EQ(again, list);
  EXPECT_TRUE(a.forwarded.empty());
  list.clear();
  apply(t, 5, list);
  EXPECT_EQ(list, L" TRANSFORMS=\":InstanceId5.mst\" MSINEWINSTANCE=1");

  // Nothing for the default, all instances, or an unknown id.
  for (int id : {kDefaultInstance, kAllInstances, 9}) {
    list = L"FOO=1";
    EXPECT_TRUE(apply(t, id, list).forwarded.empty());
    EXPECT_EQ(list, L"FOO=1");
  }

  // A product code that is not one never reaches msiexec's command line.
  for (const wchar_t* bad : {L"{5}", L"{11111111-2222-3333-4444-555555555555} /qn", L"x", L"{11111111-2222-3333-4444-55555555555G}"}) {
    t.instances[3].properties[L"ProductCode"] = bad;
    list = L"FOO=1";
    a = apply(t, 3, list);
    EXPECT_TRUE(a.refused_product_code) << bad;
    EXPECT_EQ(list, L"FOO=1");
  }
  EXPECT_TRUE(is_product_code(L"{abcdef01-2345-6789-ABCD-EF0123456789}"));
}
