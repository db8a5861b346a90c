// The instance table read from settings text, the choice of an instance and the
// property-list additions. The input is settings text; its first byte picks the
// requested id, the silent and patch flags and the dialog's answer, and its last
// line is the property list.
#include <algorithm>

#include "fuzz_input.h"
#include "instance_rules.h"
#include "support/error_codes.h"

using namespace instance_rules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qz::IniProfile settings;
  settings.load_bytes(qz::ByteView(data, size), qz::latin1_decode);
  InstanceTable table;
  load_table(settings, OwnCodes{L"{OWN}", L"", L"", L"1.0"}, &table);
  if (!table.instances.empty()) FUZZ_CHECK(table.find(kDefaultInstance) != nullptr);
  for (const auto& [id, record] : table.instances) FUZZ_CHECK(id >= kDefaultInstance);

  const uint8_t flags = size ? data[0] : 0;
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  const std::wstring list = lines.back();
  // Installed and related states from the bits of the second byte.
  const uint8_t states = size > 1 ? data[1] : 0;
  int bit = 0;
  for (auto& [id, record] : table.instances) {
    record.installed = (states >> (bit++ % 8)) & 1;
    record.related_found = !record.installed && ((states >> (bit++ % 8)) & 1);
  }
  for (const UpgradeEntry& e : table.upgrades) (void)upgrade_entry_matches(e, lines[0], list);

  SelectInput in;
  in.requested = static_cast<int>(flags % 12) - 4;
  in.silent = flags & 16;
  in.patch_run = flags & 32;
  const DialogAnswer answer{static_cast<DialogAnswer::Kind>((flags >> 6) % 3), static_cast<int>(states % 8) - 4};
  SelectOutcome out = select(table, in, [&] { return answer; });
  // Going on always means a usable id, or the default instance when nothing asked.
  if (out.go_on) FUZZ_CHECK(usable(table, out.id, in.patch_run) || (!out.asked && out.id == kDefaultInstance));
  else FUZZ_CHECK(out.result == err::kInstanceNotChosen || out.result == -1);
  if (in.silent) FUZZ_CHECK(!out.asked);

  DialogChoices d = dialog_choices(table, in.patch_run);
  FUZZ_CHECK(std::is_sorted(d.rows.begin(), d.rows.end()));
  FUZZ_CHECK(d.second_enabled == !d.rows.empty());

  // Applying twice adds nothing the second time, and whatever is added after /n is
  // a product code.
  for (const auto& [id, record] : table.instances) {
    std::wstring once = list;
    Applied a = apply(table, id, once);
    std::wstring twice = once;
    FUZZ_CHECK(apply(table, id, twice).forwarded.empty());
    FUZZ_CHECK(twice == once);
    if (a.forwarded.compare(0, 3, L"/n ") == 0) FUZZ_CHECK(is_product_code(a.forwarded.substr(3)));
    if (a.forwarded.empty() && !a.refused_product_code) FUZZ_CHECK(once == list);
  }
  return 0;
}
