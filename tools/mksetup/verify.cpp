// mksetup verify: reads a built setup the way the launcher will and lists every
// problem it finds, one a line: where the stream lies against the image and the
// certificate table, every member decoding, Setup.INI parsing with the launcher's
// readers, and every file the settings refer to being a member (or lying beside
// the setup, for the location types that say so).
#include <algorithm>
#include <iostream>
#include <map>

#include "commands.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/inifilex.h"
#include "package/language_rules.h"
#include "package/settings_rules.h"
#include "package_cache_rules.h"
#include "prereq_section.h"
#include "progress.h"
#include "setup_reader.h"

namespace mksetup {

using namespace qzstream;

namespace {

constexpr uint64_t kSettingsLimit = 16u << 20;
constexpr int kTypeSource = 0, kTypeStream = 1, kTypeTemp = 4;

class Verifier {
 public:
  explicit Verifier(const fs::path& setup) : setup_(setup), opened_(open_setup(setup)) {}

  int run() {
    check_layout();
    check_members();
    if (read_settings()) check_references();
    for (auto& p : problems_) std::cout << shown(setup_) << ": " << p << "\n";
    if (!problems_.empty()) return 1;
    std::cout << shown(setup_) << ": " << opened_.directory.entries.size() << " members, no problems found\n";
    return 0;
  }

 private:
  void problem(std::string text) { problems_.push_back(std::move(text)); }

  // The stream must start at the image end and run to the file's end, or to a
  // certificate table that does: anything else was added after packing or signing.
  void check_layout() {
    FileSource& src = *opened_.source;
    const PeLayout pe = pe_layout(src);
    const Directory& dir = opened_.directory;
    if (opened_.where.start != pe.stream_start)
      problem("the stream was appended after the launcher was signed, so the signature no longer verifies: pack "
              "the unsigned launcher and sign the setup afterwards");
    if (dir.error) {
      problem("the member directory ends after " + std::to_string(dir.entries.size()) + " of " +
              std::to_string(dir.header.count) + " members (the setup is truncated or damaged)");
      return;
    }
    uint64_t end = opened_.where.start + kHeaderSize;
    for (auto& e : dir.entries) end = std::max<uint64_t>(end, uint64_t{e.data_offset} + e.stored_size);
    const uint64_t size = src.size();
    const bool signed_after = pe.certificate_size && pe.certificate_offset >= end && opened_.where.start == pe.stream_start;
    if (signed_after) {
      // The signer aligns the table to 8 bytes with zeros; anything more was added.
      const uint64_t gap = pe.certificate_offset - end;
      uint8_t pad[8] = {};
      const bool padding = gap < 8 && pe.certificate_offset % 8 == 0 && src.read_at(end, pad, gap) == gap &&
                           std::all_of(pad, pad + gap, [](uint8_t b) { return b == 0; });
      if (gap && !padding)
        problem(std::to_string(gap) + " bytes lie between the last member and the certificate table");
      if (uint64_t{pe.certificate_offset} + pe.certificate_size != size)
        problem("the certificate table does not end at the file's end: the setup was changed after signing");
    } else if (end != size && opened_.where.start == pe.stream_start) {
      problem(end < size ? std::to_string(size - end) + " bytes follow the last member: the setup was changed after "
                                                         "packing"
                         : "the last member runs past the file's end");
    }
  }

  void check_members() {
    const Directory& dir = opened_.directory;
    uint64_t bytes = 0;
    for (auto& e : dir.entries) bytes += e.stored_size;
    Progress progress("verifying", bytes, dir.entries.size());
    for (auto& e : dir.entries) {
      progress.next_member();
      const std::wstring folded = launcher_fold(e.name);
      auto [it, added] = members_.emplace(folded, &e);
      if (!added) {
        problem("members '" + shown(it->second->name) + "' and '" + shown(e.name) +
                "' are one name to the launcher, which reads only the first");
        continue;
      }
      if (!is_safe_member_name(e.name)) {
        problem("member '" + shown(e.name) + "' is not a plain file name: the launcher refuses to extract it");
        continue;
      }
      const bool keep = qz::iequal(e.name, L"Setup.INI") || qz::iequal(e.name, L"Setting.INI");
      qz::Bytes content;
      const DecodeResult r = decode_entry(
          *opened_.source, e,
          [&](const uint8_t* data, size_t size) {
            if (keep && content.size() + size <= kSettingsLimit) content.insert(content.end(), data, data + size);
            return true;
          },
          &progress);
      if (const std::string why = decode_problem(r); !why.empty())
        problem("member '" + shown(e.name) + "' does not decode: " + why);
      else if (keep && r.written > kSettingsLimit)
        problem("member '" + shown(e.name) + "' is larger than the launcher reads settings");
      else if (keep)
        settings_[launcher_fold(e.name)] = std::move(content);
    }
  }

  bool has_member(const std::wstring& name) const { return members_.count(launcher_fold(name)) != 0; }

  // The file beside the setup at this relative location, the last part's letters
  // compared as Windows does; empty when there is none.
  fs::path beside(const std::wstring& location) const {
    std::wstring rel = location;
    for (auto& c : rel)
      if (c == L'\\') c = L'/';
    const fs::path p = setup_.parent_path() / to_path(rel);
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p;
    const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    const std::wstring want = unicode_fold(from_path(p.filename()));
    for (auto& e : fs::directory_iterator(folder, ec))
      if (unicode_fold(from_path(e.path().filename())) == want && e.is_regular_file(ec)) return e.path();
    return {};
  }
  bool lies_beside(const std::wstring& location) const { return !beside(location).empty(); }

  // A drive, UNC or root-relative location names a place on the machine that runs
  // the setup, which cannot be checked here.
  static bool is_absolute_location(const std::wstring& l) {
    return (l.size() >= 2 && l[1] == L':') || (!l.empty() && (l[0] == L'\\' || l[0] == L'/'));
  }

  // Where a file of this location type must be for the launcher to find it.
  void expect(const std::string& what, const std::wstring& location, int type) {
    if (type == kTypeStream || type == kTypeTemp) {
      if (!has_member(location))
        problem(what + " '" + shown(location) + "' (Type=" + std::to_string(type) + ") is not a member of the setup");
    } else if (type == kTypeSource && !is_absolute_location(location) && !lies_beside(location)) {
      problem(what + " '" + shown(location) + "' (Type=0) does not lie beside the setup");
    }
  }

  bool read_settings() {
    qz::Bytes text;
    if (auto it = settings_.find(L"setup.ini"); it != settings_.end()) {
      text = it->second;
    } else if (has_member(L"Setup.INI")) {
      return false;  // reported as a member that does not decode
    } else {
      // Without the member the launcher reads the setup.ini beside itself.
      const fs::path file = beside(L"setup.ini");
      if (file.empty()) {
        problem("no Setup.INI member and no setup.ini beside the setup: the launcher has no settings");
        return false;
      }
      std::ifstream in(file, std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!doc_.load_bytes(text, L"=", false)) {
      problem("Setup.INI does not parse: a line beginning with '[' has no ']', or a key comes before every section");
      return false;
    }
    profile_.load_bytes(text, &qz::latin1_decode);
    settings_rules::apply_launch_settings(launch_, doc_, true);
    if (auto it = settings_.find(L"setting.ini"); it != settings_.end()) {
      qz::inifilex other;
      if (!other.load_bytes(it->second, L"=", false))
        problem("Setting.INI does not parse: a line beginning with '[' has no ']', or a key comes before every "
                "section");
    }
    return true;
  }

  std::wstring setting(const std::wstring& section, const std::wstring& key) const {
    return profile_.find(section, key).value_or(std::wstring());
  }

  void check_references() {
    const std::wstring package = setting(L"Startup", L"PackageName");
    if (package.empty()) {
      problem("Setup.INI names no package ([Startup] PackageName): the launcher stops");
    } else {
      const std::wstring type_text = setting(package, L"Type");
      const int type = type_text.empty() ? kTypeSource : qz::profile_atoi(type_text);
      std::wstring location = setting(package, L"Location");
      if (location.empty()) location = package;
      expect("package", location, type);
      if (const std::wstring cert = setting(package, L"CertKey"); !cert.empty() && !has_member(cert))
        problem("certificate '" + shown(cert) + "' ([" + shown(package) + "] CertKey) is not a member of the setup");
      for (int i = 0;; ++i) {
        const std::wstring cab = setting(package, L"Cab" + std::to_wstring(i));
        if (cab.empty()) break;
        const std::wstring file = package_cache_rules::cabinet_file_name(cab);
        if (file.empty())
          problem("cabinet entry Cab" + std::to_string(i) + " '" + shown(cab) + "' names no file");
        else
          expect("cabinet", file, type);
      }
    }
    for (uint16_t id : launch_.supported_languages) {
      const std::wstring table = package_cache_rules::string_file_name(id);
      if (!has_member(table))
        problem("string table '" + shown(table) + "' of supported language " + std::to_string(id) +
                " is not a member of the setup");
      const std::wstring transform = lang::transform_name(id);
      if (lang::wants_transform(launch_.supported_languages.size(), false) && !has_member(transform) &&
          !lies_beside(transform))
        problem("language transform '" + shown(transform) + "' is neither a member nor beside the setup");
    }
    const auto listed = prq::listed_prerequisites(
        [&](const std::wstring& key) { return setting(prq::kPrerequisiteSection, key); });
    for (auto& p : listed) {
      if (!p.name_is_safe)
        problem("prerequisite PreReq" + std::to_string(p.index) + " '" + shown(p.prq_name) +
                "' is not a plain file name");
      else if (!has_member(p.prq_name))
        problem("prerequisite PreReq" + std::to_string(p.index) + " '" + shown(p.prq_name) +
                "' is not a member of the setup");
      if (p.app_package && !has_member(L"PkgDeployHost.exe"))
        problem("prerequisite PreReq" + std::to_string(p.index) +
                " is an app package, and its helper 'PkgDeployHost.exe' is not a member of the setup");
    }
  }

  fs::path setup_;
  OpenedSetup opened_;
  std::vector<std::string> problems_;
  std::map<std::wstring, const EntryInfo*> members_;
  std::map<std::wstring, qz::Bytes> settings_;
  qz::inifilex doc_;
  qz::IniProfile profile_;
  LaunchSettings launch_;
};

}  // namespace

int verify(const fs::path& setup) { return Verifier(setup).run(); }

}  // namespace mksetup
