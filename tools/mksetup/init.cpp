// mksetup init: a starter setup.ini filled from a Windows Installer package's own
// Property table and summary information, read with libmsi (msitools). Every key
// comes with a short comment saying what it does.
#include <libmsi.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iostream>
#include <memory>
#include <optional>

#include "commands.h"
#include "new_file.h"
#include "package_cache_rules.h"

namespace mksetup {

namespace {

template <class T>
struct GUnref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GUnref<T>>;

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  std::string text() const { return error && error->message ? error->message : "unknown error"; }
};

// libmsi says why an open failed through GLib's log, not its error: keep the
// message for ours instead of letting it reach the terminal.
void keep_message(const gchar*, GLogLevelFlags, const gchar* message, gpointer kept) {
  if (!message) return;
  std::string& m = *static_cast<std::string*>(kept);
  m = message;
  while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' ')) m.pop_back();
}

class Package {
 public:
  explicit Package(const fs::path& path) {
    ErrorHolder e;
    std::string logged;
    const GLogFunc before = g_log_set_default_handler(&keep_message, &logged);
    db_.reset(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &e.error));
    g_log_set_default_handler(before, nullptr);
    if (!db_) {
      const std::string why = e.error ? e.text() : logged.empty() ? std::string("unreadable") : logged;
      fail(shown(path) + " is not a Windows Installer package (" + why + ")");
    }
    ErrorHolder se;
    summary_.reset(libmsi_summary_info_new(db_.get(), 0, &se.error));
  }

  // A row of the Property table; nothing when the package has no such row.
  std::optional<std::string> property(const char* name) const {
    const std::string sql = std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'";
    ErrorHolder e;
    GPtr<LibmsiQuery> q(libmsi_query_new(db_.get(), sql.c_str(), &e.error));
    if (!q || !libmsi_query_execute(q.get(), nullptr, &e.error)) return std::nullopt;
    GPtr<LibmsiRecord> rec(libmsi_query_fetch(q.get(), &e.error));
    if (!rec || libmsi_record_is_null(rec.get(), 1)) return std::nullopt;
    gchar* v = libmsi_record_get_string(rec.get(), 1);
    std::string out = v ? v : "";
    g_free(v);
    return out;
  }

  std::optional<std::string> summary(LibmsiProperty which) const {
    if (!summary_) return std::nullopt;
    ErrorHolder e;
    if (libmsi_summary_info_get_property_type(summary_.get(), which, &e.error) != LIBMSI_PROPERTY_TYPE_STRING)
      return std::nullopt;
    const gchar* v = libmsi_summary_info_get_string(summary_.get(), which, &e.error);
    if (!v) return std::nullopt;
    return std::string(v);
  }

 private:
  GPtr<LibmsiDatabase> db_;
  GPtr<LibmsiSummaryInfo> summary_;
};

bool is_braced_guid(const std::wstring& s) {
  static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (s.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const wchar_t c = s[i];
    if (kShape[i] == 'x' ? !iswxdigit(c) || c > 0x7F : c != static_cast<wchar_t>(kShape[i])) return false;
  }
  return true;
}

// A value both settings readers give back exactly as written: one line, no control
// character, no blank at either end (one reader trims them, the other does not),
// nothing that failed to convert.
void check_value(const std::string& what, const std::wstring& v) {
  for (wchar_t c : v)
    if (c < 0x20 || c == 0x7F || c == 0xFFFD)
      fail(what + " '" + shown(v) + "' holds a line break, a control character or a character that could not be "
           "read, which setup.ini cannot carry");
  if (!v.empty() && (v.front() == L' ' || v.back() == L' ' || v.front() == L'\t' || v.back() == L'\t'))
    fail(what + " '" + shown(v) + "' begins or ends with a blank, which the two readers of setup.ini read "
         "differently");
}

// The package's language: ProductLanguage, else the first language of the summary's
// template ("x64;1033,1031"); 0 when neither names one.
unsigned package_language(const Package& p) {
  auto number = [](const std::string& s) -> unsigned {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
    const unsigned v = static_cast<unsigned>(std::stoul(s));
    return v <= 0xFFFF ? v : 0;
  };
  if (auto v = p.property("ProductLanguage")) {
    if (unsigned id = number(*v)) return id;
  }
  if (auto t = p.summary(LIBMSI_PROPERTY_TEMPLATE)) {
    const size_t semi = t->find(';');
    if (semi != std::string::npos) return number(t->substr(semi + 1, t->find(',', semi) - semi - 1));
  }
  return 0;
}

class IniText {
 public:
  void comment(const std::string& text) { text_ += "; " + text + "\r\n"; }
  void section(const std::wstring& name) {
    if (!text_.empty()) text_ += "\r\n";
    text_ += '[';
    text_ += shown(name);
    text_ += "]\r\n";
  }
  void key(const char* name, const std::wstring& value, const std::string& what) {
    comment(what);
    text_ += std::string(name) + "=" + shown(value) + "\r\n";
  }
  void blank() { text_ += "\r\n"; }
  // UTF-8 with its mark when anything is beyond ASCII, which both readers take as
  // UTF-8 on every system; plain ASCII otherwise.
  std::string bytes() const {
    const bool ascii = std::all_of(text_.begin(), text_.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? text_ : "\xEF\xBB\xBF" + text_;
  }

 private:
  std::string text_;
};

}  // namespace

int init(const std::vector<std::string>& args) {
  fs::path package_path, output = "setup.ini";
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" || args[i] == "--output") {
      if (i + 1 >= args.size()) fail("option " + args[i] + " needs a value");
      output = upath(args[++i]);
    } else if (args[i] == "-f" || args[i] == "--force") {
      force = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      fail("unknown option " + args[i]);
    } else if (package_path.empty()) {
      package_path = upath(args[i]);
    } else {
      fail("init reads one package");
    }
  }
  if (package_path.empty()) fail("init needs the package: mksetup init PACKAGE.msi [-o setup.ini]");
  std::error_code ec;
  if (!fs::is_regular_file(package_path, ec)) fail("no such file: " + shown(package_path));
  if (!force && fs::exists(fs::symlink_status(output, ec)))
    fail(shown(output) + " already exists: name another file with -o, or replace it with --force");

  const Package package(package_path);
  auto wide = [](const std::optional<std::string>& s) { return s ? qzstream::utf8_decode(*s) : std::wstring(); };
  const std::wstring name = from_path(package_path.filename());
  const std::wstring product_code = wide(package.property("ProductCode"));
  const std::wstring package_code = wide(package.summary(LIBMSI_PROPERTY_UUID));
  const std::wstring version = wide(package.property("ProductVersion"));
  const std::wstring product = wide(package.property("ProductName"));
  const std::wstring upgrade_code = wide(package.property("UpgradeCode"));
  const unsigned language = package_language(package);

  if (product_code.empty()) fail(shown(package_path) + " has no ProductCode in its Property table");
  if (!is_braced_guid(product_code))
    fail("the ProductCode '" + shown(product_code) + "' of " + shown(package_path) + " is not a GUID in braces");
  if (!qzstream::is_safe_member_name(name) || name.find(L']') != std::wstring::npos)
    fail("the package's file name '" + shown(name) + "' cannot be a member and section name of setup.ini: "
         "rename the package");
  check_value("the package's file name", name);
  check_value("ProductName", product);
  check_value("ProductVersion", version);
  check_value("the PackageCode", package_code);
  check_value("the UpgradeCode", upgrade_code);

  const std::wstring table = language ? package_cache_rules::string_file_name(language) : std::wstring();
  IniText ini;
  ini.comment("Settings of the setup launcher for " + shown(name) + ", written by mksetup init from the package.");
  ini.comment("Pack it (as setup.ini: the member Setup.INI) with the package" +
              (table.empty() ? std::string(":") : " and the string table " + shown(table) + ":"));
  ini.comment("  mksetup pack -l setup.exe -o OUTPUT.exe setup.ini " + shown(name) + " " + shown(table));
  ini.comment("Lines beginning with ';' are comments.");
  ini.section(L"Startup");
  ini.key("PackageName", name, "The Windows Installer package the launcher installs; its section below says where it comes from.");
  if (!product.empty()) ini.key("Product", product, "The product's name, shown in dialog captions and the initialisation dialog.");
  ini.key("ProductCode", product_code, "The package's ProductCode: finds the installed product for repair, upgrade and removal.");
  ini.key("ProductGUID", product_code, "The same code as the launch settings read it (they look here, not at ProductCode).");
  if (!package_code.empty())
    ini.key("PackageCode", package_code, "The package's PackageCode: tells this very package from other builds of the product.");
  if (!version.empty()) ini.key("ProductVersion", version, "The package's ProductVersion, compared with an installed product's.");
  if (!upgrade_code.empty()) ini.key("UpgradeCode", upgrade_code, "The package's UpgradeCode: finds earlier versions of the product.");
  ini.key("WaitInstallation", L"Y",
          "Y: the setup you start waits for the installation and ends with its exit code (what deployment tools need).");
  if (language) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%u", language);
    ini.section(L"Languages");
    ini.key("Default", text, "The language of the launcher's texts when no other choice applies.");
    ini.key("Supported", text,
            "The languages offered, comma-separated: each needs its string table (" + shown(table) +
                " here) packed as a member; an empty file keeps the launcher's built-in texts.");
  } else {
    std::cerr << "note: " << shown(package_path) << " names no language: no [Languages] section written\n";
  }
  ini.section(name);
  ini.key("Type", L"1", "Where the package comes from: 1 packed inside the setup, 0 a file beside the setup, 2 downloaded, "
          "3 installed from the web.");

  NewFile out(output);
  const std::string bytes = ini.bytes();
  out.write(bytes.data(), bytes.size());
  out.commit();
  std::cout << "wrote " << shown(output) << " for " << shown(name) << "\n";
  return 0;
}

}  // namespace mksetup
