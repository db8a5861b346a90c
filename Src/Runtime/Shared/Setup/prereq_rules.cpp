// portable
#include "prereq_rules.h"

#include <climits>

#include "package/stream_format.h"
#include "support/zstring.h"
#include "xml/sax_parser.h"

namespace prq {
namespace {

constexpr uint32_t kRegSz = 1, kRegExpandSz = 2, kRegDword = 4;

// Sign and magnitude of a decimal text, the magnitude saturated at 2^32.
struct Decimal {
  bool negative = false;
  uint64_t magnitude = 0;
};
Decimal read_decimal(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  Decimal d;
  if (i < text.size() && text[i] == L'-') {
    d.negative = true;
    ++i;
  }
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    d.magnitude = d.magnitude * 10 + static_cast<uint64_t>(text[i] - L'0');
    if (d.magnitude > 0xFFFFFFFFull) d.magnitude = 0x100000000ull;
  }
  return d;
}

int order_without_case(std::wstring_view a, std::wstring_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = wide_lower(a[i]), y = wide_lower(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int order_of(PackedVersion a, PackedVersion b) { return a == b ? 0 : (a < b ? -1 : 1); }

std::wstring_view leaf_after_any_separator(std::wstring_view path) {
  size_t at = path.find_last_of(L"\\/");
  return at == std::wstring_view::npos ? path : path.substr(at + 1);
}

bool present(const std::wstring& value) { return !value.empty(); }

}  // namespace

int parse_int(std::wstring_view text) {
  Decimal d = read_decimal(text);
  if (d.negative) return d.magnitude > static_cast<uint64_t>(INT_MAX) + 1 ? INT_MIN : static_cast<int>(-static_cast<int64_t>(d.magnitude));
  return d.magnitude > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(d.magnitude);
}

uint32_t parse_u32(std::wstring_view text) {
  Decimal d = read_decimal(text);
  uint32_t m = d.magnitude > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(d.magnitude);
  return d.negative ? 0u - m : m;
}

PackedVersion pack_version(std::wstring_view text) {
  uint32_t parts[4] = {};
  for (int i = 0; i < 4; ++i) {
    size_t dot = text.find(L'.');
    parts[i] = static_cast<uint32_t>(parse_int(text.substr(0, dot))) & 0xFFFF;
    if (dot == std::wstring_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::wstring_view trim(std::wstring_view text, std::wstring_view set) {
  size_t start = text.find_first_not_of(set);
  if (start == std::wstring_view::npos) return {};
  size_t end = text.find_last_not_of(set);
  return text.substr(start, end - start + 1);
}

// ---- registry ----------------------------------------------------------------

const wchar_t* const kRootKeyNames[kRootKeyCount] = {
    L"HKEY_CLASSES_ROOT",     L"HKEY_CURRENT_USER",   L"HKEY_LOCAL_MACHINE", L"HKEY_USERS",
    L"HKEY_PERFORMANCE_DATA", L"HKEY_CURRENT_CONFIG", L"HKEY_DYN_DATA",
};

RootKey root_key_index(std::wstring_view name) {
  for (int i = 0; i < kRootKeyCount; ++i)
    if (name == kRootKeyNames[i]) return i;
  return -1;
}

RegistryPath split_registry_path(std::wstring_view path) {
  RegistryPath out;
  if (path.empty()) return out;
  size_t slash = path.find(L'\\');
  std::wstring_view root = path, key = path;
  if (slash != std::wstring_view::npos) {
    if (slash + 1 == path.size()) return out;
    root = path.substr(0, slash);
    key = path.substr(slash + 1);
  }
  out.root = root_key_index(root);
  if (out.root < 0) return out;
  out.valid = true;
  out.key = std::wstring(key);
  return out;
}

RegView condition_view(std::wstring_view bits, const ArchFacts& arch) {
  int b = parse_int(bits);
  if (!arch.x86_family64()) return RegView::kDefault;
  if (b & 1) return RegView::k32;
  if (b & 2) return RegView::k64;
  return RegView::kDefault;
}

bool registry_key_missing(int type, int comparison) { return comparison == 2 || (comparison == 32 && type != 1); }
bool registry_key_present(int comparison) { return comparison == 1; }
bool registry_value_missing(int comparison) { return comparison == 2 || comparison == 32; }

bool registry_dword_test(uint32_t data, std::wstring_view value, int comparison) {
  uint32_t v = parse_u32(value);
  switch (comparison) {
    case 1: return data == v;
    case 2: return data < v;
    case 4: return data > v;
    case 16: return (data & v) == v;
    case 32: return data != v;
    default: return true;
  }
}

bool registry_text_test(int type, std::wstring_view data, std::wstring_view value, int comparison) {
  int order = type == 32 ? order_of(pack_version(data), pack_version(value)) : order_without_case(data, value);
  size_t position = data.find(value);
  switch (comparison) {
    case 1: return order == 0;
    case 2: return order < 0;
    case 4: return order > 0;
    case 8: return position == 0;
    case 16: return position != std::wstring_view::npos;
    case 32: return order != 0;
    default: return true;
  }
}

std::wstring registry_text(const RegValue& value) {
  if (value.type != kRegSz && value.type != kRegExpandSz) return std::wstring();
  std::wstring text = qzstream::utf16le_decode(value.data.data(), value.data.size() & ~size_t{1});
  return text.substr(0, text.find(L'\0'));
}

bool is_dword(const RegValue& value) { return value.type == kRegDword && value.data.size() == 4; }

// ---- files -------------------------------------------------------------------

bool file_missing(int comparison) { return comparison == 2; }
bool file_exists_test(int comparison) { return comparison == 1; }

bool file_date_test(uint64_t local_write_time, std::wstring_view value, int comparison) {
  size_t dot = value.find(L'.');
  uint64_t high = parse_u32(value.substr(0, dot));
  uint64_t low = dot == std::wstring_view::npos ? 0 : parse_u32(value.substr(dot + 1));
  uint64_t wanted = high << 32 | low;
  if (comparison == 1) return local_write_time == wanted;
  if (comparison == 2) return local_write_time <= wanted;
  return false;
}

bool file_version_test(PackedVersion file, std::wstring_view value, int comparison) {
  int order = order_of(file, pack_version(value));
  if (comparison == 1) return order == 0;
  if (comparison == 2) return order < 0;
  if (comparison == 4) return order > 0;
  return false;
}

std::wstring condition_path(std::wstring_view path, std::wstring_view file_name) {
  if (path.empty()) return std::wstring(file_name);
  return join_folder(path, file_name);
}

std::wstring join_folder(std::wstring_view folder, std::wstring_view rest) {
  if (folder.empty()) return std::wstring(rest);
  if (rest.empty()) return std::wstring(folder);
  std::wstring out(folder);
  bool folder_ends = out.back() == L'\\';
  bool rest_starts = rest.front() == L'\\';
  if (folder_ends && rest_starts) rest.remove_prefix(1);
  if (!folder_ends && !rest_starts) out.push_back(L'\\');
  out.append(rest);
  return out;
}

std::vector<std::wstring> path_entries(std::wstring_view path_value) {
  std::vector<std::wstring> out;
  while (!path_value.empty()) {
    size_t semicolon = path_value.find(L';');
    std::wstring_view entry = path_value.substr(0, semicolon);
    if (!entry.empty()) out.emplace_back(entry);
    if (semicolon == std::wstring_view::npos) break;
    path_value.remove_prefix(semicolon + 1);
  }
  return out;
}

// ---- path tokens -------------------------------------------------------------

LeadingToken leading_token(std::wstring_view path) {
  LeadingToken out;
  if (path.empty() || path.front() != L'[') return out;
  size_t close = path.find(L']');
  if (close == std::wstring_view::npos) return out;
  out.present = true;
  out.token = std::wstring(path.substr(0, close + 1));
  out.rest = std::wstring(path.substr(close + 1));
  return out;
}

RegistryReference registry_reference(std::wstring_view token) {
  RegistryReference out;
  std::wstring_view text = trim(token, L"[]\n\t");
  size_t first = text.find(L'\\');
  if (first == std::wstring_view::npos) return out;
  out.root = root_key_index(text.substr(0, first));
  if (out.root < 0) return out;
  size_t last = text.rfind(L'\\');
  out.valid = true;
  out.key = std::wstring(first == last ? std::wstring_view() : text.substr(first + 1, last - first - 1));
  out.value = std::wstring(text.substr(last + 1));
  return out;
}

// ---- operating system ---------------------------------------------------------

bool bits_match(int bits, const ArchFacts& arch) {
  unsigned b = static_cast<unsigned>(bits) & 63u;
  switch (b & (0u - b)) {
    case 1: return !arch.x86_family64();
    case 2: return arch.any64();
    case 4: return arch.x64;
    case 8: return arch.itanium;
    case 16: return arch.arm32;
    case 32: return arch.arm64;
    default: return true;
  }
}

bool os_condition_matches(const sax::AttributeList& attributes, const OsFacts& os, const ArchFacts& arch,
                          uint16_t ui_language, std::wstring& trace) {
  // Each test reads its attribute, traces it when present and passes when empty.
  auto read = [&](const wchar_t* name, std::wstring& value) {
    value = attributes.getValue(name);
    if (present(value)) trace.append(L",").append(value);
    return present(value);
  };
  std::wstring v;
  if (read(L"MajorVersion", v) && static_cast<uint32_t>(parse_int(v)) != os.major) return false;
  if (read(L"MinorVersion", v)) {
    uint32_t minor = static_cast<uint32_t>(parse_int(v));
    // The Windows 9x family keeps its minor version in the build number's high word.
    uint32_t legacy_minor = (os.build >> 16) & 0xFF;
    bool legacy = os.platform_id == 1;
    if (minor != os.minor && !(legacy && minor == legacy_minor)) return false;
    if (legacy && legacy_minor == 90 && minor != 90) return false;
  }
  if (read(L"ServicePackMajorMin", v) && os.service_pack_major < static_cast<uint32_t>(parse_int(v))) return false;
  if (read(L"ServicePackMajorMax", v) && os.service_pack_major > static_cast<uint32_t>(parse_int(v))) return false;
  if (read(L"BuildNumber", v) && os.build < static_cast<uint32_t>(parse_int(v))) return false;
  if (read(L"MaxBuildNumber", v) && os.build > static_cast<uint32_t>(parse_int(v))) return false;
  if (read(L"PlatformId", v) && static_cast<uint32_t>(parse_int(v)) != os.platform_id) return false;
  if (read(L"CSDVersion", v)) {
    const std::wstring_view blanks = L"\n\t ";
    if (trim(v, blanks) > trim(os.csd_version, blanks)) return false;
  }
  if (read(L"ProductType", v)) {
    bool any = false;
    std::wstring_view items = v;
    for (;;) {
      size_t bar = items.find(L'|');
      if (static_cast<uint32_t>(parse_int(items.substr(0, bar))) == os.product_type) any = true;
      if (bar == std::wstring_view::npos) break;
      items.remove_prefix(bar + 1);
    }
    if (!any) return false;
  }
  if (read(L"Language", v) && parse_int(v) != ui_language) return false;
  if (read(L"Bits", v) && !bits_match(parse_int(v), arch)) return false;
  return true;
}

bool package_manager_platform(const OsFacts& os) {
  return os.major > 9 && os.platform_id == 2 && os.product_type == 1;
}

uint32_t os_number(const OsFacts& os) { return os.major * 100 + os.minor; }

std::wstring app_package_query(std::wstring_view name, std::wstring_view publisher, std::wstring_view version,
                               std::wstring_view bits, bool bundle) {
  std::wstring p = L"-prqmsix:query -QZ_temp -pkgname:";
  p.append(name).append(L" -publisher:\"").append(publisher).append(L"\" -version:").append(version);
  p.append(L" -arch:").append(bits).append(L" -bundle:").append(bundle ? L"1" : L"0");
  return p;
}

// ---- names that become paths ---------------------------------------------------

std::wstring_view leaf_after_backslash(std::wstring_view path) {
  size_t at = path.rfind(L'\\');
  return at == std::wstring_view::npos ? path : path.substr(at + 1);
}

bool same_file_name(std::wstring_view a, std::wstring_view b) {
  return order_without_case(leaf_after_backslash(a), leaf_after_backslash(b)) == 0;
}

std::wstring folder_name(std::wstring_view id) {
  return qzstream::is_safe_member_name(id) ? std::wstring(id) : std::wstring();
}

std::wstring placed_file_name(std::wstring_view local_file) {
  std::wstring_view leaf = leaf_after_any_separator(local_file);
  return qzstream::is_safe_member_name(leaf) ? std::wstring(leaf) : std::wstring();
}

std::wstring member_name(std::wstring_view id, std::wstring_view local_file) {
  std::wstring folder = folder_name(id), name = placed_file_name(local_file);
  if (folder.empty() || name.empty()) return std::wstring();
  std::wstring member = folder + L"." + name;
  return qzstream::is_safe_member_name(member) ? member : std::wstring();
}

std::wstring alternative_prq_name(std::wstring_view url) {
  size_t slash = url.rfind(L'/');
  if (slash != std::wstring_view::npos && slash + 1 < url.size()) {
    std::wstring_view name = url.substr(slash + 1);
    if (qzstream::is_safe_member_name(name)) return std::wstring(name);
  }
  return L"Default.prq";
}

}  // namespace prq
