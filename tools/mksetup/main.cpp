// mksetup: the setup author's packing tool. Appends a setup stream to a launcher
// executable, lists, extracts and verifies the members of a setup, and writes a
// starter setup.ini from a package. Builds natively (Linux) and as a Windows
// console program; the byte format and the readers are the launcher's own.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

const char kUsage[] =
    "usage:\n"
#ifdef QZ_MKSETUP_INIT
    "  mksetup init PACKAGE.msi [-o setup.ini] [--force]\n"
    "      writes a starter setup.ini from the package's tables, with a comment on each key\n"
#endif
    "  mksetup pack -l LAUNCHER -o OUTPUT [--level N] [member options] INPUT...\n"
    "      INPUT is a file, a folder (its files, in name order) or @LIST, a text file\n"
    "      with one member per line: PATH, optionally a tab and option words\n"
    "      (compress, store, always-compress, scramble=none|whole|blocks|both, name=NAME).\n"
    "      Member options apply to the inputs after them:\n"
    "        --compress         compress; a member that does not shrink is stored (default)\n"
    "        --always-compress  compress even when the member does not shrink\n"
    "        --store            store uncompressed\n"
    "        --scramble MODE    none, whole (file), blocks (1024-byte blocks, default), both\n"
    "      Whole-file scrambling and scrambled stored members are keyed with the name in\n"
    "      the ANSI code page of the system that runs the setup: they need an ASCII name.\n"
    "      With SOURCE_DATE_EPOCH set, every member's times are that moment.\n"
    "  mksetup list SETUP\n"
    "  mksetup extract SETUP FOLDER [NAME...]\n"
    "  mksetup verify SETUP\n"
    "      reads the setup as the launcher will and lists every problem found\n";

int run(const std::vector<std::string>& argv) {
  using namespace mksetup;
  const std::string cmd = argv.size() > 1 ? argv[1] : "";
  const std::vector<std::string> rest(argv.begin() + std::min<size_t>(2, argv.size()), argv.end());
  if (cmd == "pack") return pack(rest);
#ifdef QZ_MKSETUP_INIT
  if (cmd == "init") return init(rest);
#endif
  if (cmd == "list" && rest.size() == 1) return list(upath(rest[0]));
  if (cmd == "verify" && rest.size() == 1) return verify(upath(rest[0]));
  if (cmd == "extract" && rest.size() >= 2) {
    std::vector<std::wstring> names;
    for (size_t i = 2; i < rest.size(); ++i) names.push_back(qzstream::utf8_decode(rest[i]));
    return extract(upath(rest[0]), upath(rest[1]), names);
  }
  std::cerr << kUsage;
  return 2;
}

int guarded(const std::vector<std::string>& argv) {
  try {
    return run(argv);
  } catch (const mksetup::Failure& f) {
    std::cerr << "mksetup: " << f.message << "\n";
  } catch (const std::exception& e) {
    std::cerr << "mksetup: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and are handed on as UTF-8, the tool's narrow form.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(qzstream::utf8_encode(wargv[i]));
  return guarded(args);
}
#else
int main(int argc, char** argv) { return guarded(std::vector<std::string>(argv, argv + argc)); }
#endif
