// mksetup pack: appends a type-4 setup stream to a launcher executable. The byte
// format comes from package/stream_format.h; the output depends only on the
// launcher, the members in the order given, their contents and options, and their
// times (all one moment with SOURCE_DATE_EPOCH).
#include <zlib.h>

#include <iostream>
#include <map>
#include <memory>

#include "commands.h"
#include "entry_rules.h"
#include "folder_names.h"
#include "inputs.h"
#include "package/member_decode.h"
#include "new_file.h"
#include "progress.h"

namespace mksetup {

using namespace qzstream;

namespace {

struct Packed {
  uint32_t stored = 0;
  bool compressed = false;
};

constexpr size_t kReadChunk = 1 << 16;

// The launcher must end where its PE image ends: the stream is looked for there.
void check_launcher(const fs::path& launcher) {
  FileSource src(launcher);
  uint32_t error = 0;
  uint32_t end = pe_stream_start(src, false, &error);
  if (error) fail("launcher " + shown(launcher) + " is not a Windows PE image");
  if (end != src.size()) {
    std::string why = "launcher " + shown(launcher) + " does not end at its PE image end (the image ends at byte " +
                      std::to_string(end) + ", the file has " + std::to_string(src.size()) + " bytes). ";
    if (pe_stream_start(src, true) != end)
      why += "It is signed: pack the unsigned launcher and sign the result afterwards.";
    else
      why += "Data follows the image (a symbol table from an unstripped build, or a stream already appended): "
             "use a stripped launcher without a stream.";
    fail(why);
  }
}

// Everything that can be refused is refused before anything is written.
void check_members(const std::vector<MemberSpec>& members, const fs::path& output) {
  const std::wstring launcher_copy = entry::copy_name(from_path(output.filename()));
  std::map<std::wstring, std::wstring> launcher_names, system_names;
  for (auto& m : members) {
    if (!is_safe_member_name(m.name))
      fail("member name '" + shown(m.name) + "' is not a plain Windows file name (separator, colon, '..', "
           "reserved device name, trailing dot or blank, or too long)");
    if (folder_names::is_reserved_member_name(m.name, launcher_copy))
      fail("member name '" + shown(m.name) + "' is one the launcher keeps for its own files in the folder it "
           "extracts members to (its copy " + shown(launcher_copy) + ", its deletion list and temporary files, "
           "names beginning with _QZ): rename the member");
    // The launcher keeps only the first of two names it folds alike, and two names a
    // Windows file system folds alike would be extracted into one file.
    for (auto [names, folded] : {std::pair{&launcher_names, launcher_fold(m.name)}, {&system_names, unicode_fold(m.name)}}) {
      auto [it, added] = names->emplace(folded, m.name);
      if (!added)
        fail(it->second == m.name ? "two members are named '" + shown(m.name) + "'"
                                  : "members '" + shown(it->second) + "' and '" + shown(m.name) +
                                        "' differ only in letter case, and Windows and the launcher take them for "
                                        "one name");
    }
    const uint32_t scramble = m.options.scramble;
    const bool whole = (scramble & kFlagScrambleWhole) && !(scramble & kFlagScrambleBlocks);
    if (!is_ascii(m.name) && (whole || (scramble && m.options.compress == Compress::Never)))
      fail("member '" + shown(m.name) + "': whole-file scrambling and scrambled stored members are keyed with the "
           "name in the ANSI code page of the system that runs the setup, which differs between systems, so only an "
           "ASCII name is read back right everywhere; compress it with block scrambling or leave it unscrambled");
  }
}

// Writes one member's stored bytes at the output's position.
Packed write_member_data(NewFile& out, const MemberSpec& m, bool compress, const std::string& ansi_key, int level,
                         Progress* progress) {
  std::ifstream in(m.source, std::ios::binary);
  if (!in) fail("cannot open " + shown(m.source));
  // The keys the reader derives for the member (the stream is written as type 4).
  const MemberKeys keys = member_keys(4, m.options.scramble, 0, compress, utf8_encode(m.name), ansi_key);
  const bool blocks = (m.options.scramble & kFlagScrambleBlocks) != 0;
  const bool whole = keys.whole;
  ScrambleKey whole_key(keys.whole_key);
  ScrambleKey block_key(keys.coding.block_key);
  std::vector<uint8_t> buf(kReadChunk), zout(kReadChunk);
  uint64_t read_total = 0, stored = 0;
  auto emit = [&](uint8_t* p, size_t n) {
    if (blocks) block_key.scramble_blocks(p, n, stored);
    stored += n;
    if (stored > 0xFFFFFFFFull) fail("member " + shown(m.name) + " is 4 GiB or larger");
    out.write(p, n);
  };
  z_stream z{};
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(nullptr, deflateEnd);
  if (compress) {
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) fail("zlib cannot start");
    guard.reset(&z);
  }
  for (;;) {
    in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
    size_t n = static_cast<size_t>(in.gcount());
    // A failed read must not pass for the end of the file: the member would be cut short.
    if (in.bad()) fail("cannot read " + shown(m.source));
    if (progress) progress->add_bytes(n);
    if (whole) whole_key.scramble(buf.data(), n, static_cast<size_t>(read_total));
    read_total += n;
    const bool last = n < buf.size();
    if (!compress) {
      if (n) emit(buf.data(), n);
    } else {
      z.next_in = buf.data();
      z.avail_in = static_cast<uInt>(n);
      int r;
      do {
        z.next_out = zout.data();
        z.avail_out = static_cast<uInt>(zout.size());
        r = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        if (r == Z_STREAM_ERROR) fail("zlib failed on " + shown(m.source));
        emit(zout.data(), zout.size() - z.avail_out);
      } while (z.avail_out == 0 || (last && r != Z_STREAM_END));
    }
    if (last) break;
  }
  if (read_total > 0xFFFFFFFFull) fail("member " + shown(m.name) + " is 4 GiB or larger");
  return {static_cast<uint32_t>(stored), compress};
}

}  // namespace

int pack(const std::vector<std::string>& args) {
  fs::path launcher, output;
  int level = Z_DEFAULT_COMPRESSION;
  Options o;
  std::vector<MemberSpec> members;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) fail("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "-l" || a == "--launcher") launcher = upath(value());
    else if (a == "-o" || a == "--output") output = upath(value());
    else if (a == "--level") level = std::stoi(value());
    else if (a == "--compress") o.compress = Compress::IfSmaller;
    else if (a == "--always-compress") o.compress = Compress::Always;
    else if (a == "--store") o.compress = Compress::Never;
    else if (a == "--scramble") o.scramble = parse_scramble(value());
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') fail("unknown option " + a);
    else add_input(members, a, o);
  }
  if (launcher.empty() || output.empty()) fail("pack needs -l LAUNCHER and -o OUTPUT");
  if (level < -1 || level > 9) fail("--level must be 0 to 9");
  if (members.empty()) fail("no members given");
  if (members.size() > 0xFFFF) fail("at most 65535 members fit in a stream");
  check_members(members, output);
  check_launcher(launcher);
  std::error_code ec;
  if (fs::exists(output, ec) && fs::equivalent(output, launcher, ec)) fail("the output must not be the launcher");
  Times fixed;
  const bool reproducible = source_date_epoch(&fixed);

  uint64_t input_bytes = 0;
  for (auto& m : members) input_bytes += fs::file_size(m.source, ec);
  Progress progress("packing", input_bytes, members.size());
  NewFile out(output);
  {
    std::ifstream l(launcher, std::ios::binary);
    std::vector<char> buf(kReadChunk);
    while (l.read(buf.data(), buf.size()) || l.gcount()) out.write(buf.data(), static_cast<size_t>(l.gcount()));
    if (l.bad()) fail("cannot read " + shown(launcher));
  }
  const uint64_t start = out.tell();
  auto header = build_stream_header(static_cast<uint16_t>(members.size()));
  out.write(header.data(), header.size());
  for (auto& m : members) {
    progress.next_member();
    // ANSI keys are used for ASCII names only (checked above), which read the same in
    // every ANSI code page.
    const bool ascii = is_ascii(m.name);
    const std::string ansi = ascii ? utf8_encode(m.name) : std::string();
    const bool scrambled = m.options.scramble != 0;
    const std::string name16 = utf16le_encode(m.name);
    EntryInfo e;
    const Times t = reproducible ? fixed : file_times(m.source);
    e.creation_time = t.creation;
    e.last_write_time = t.write;
    e.last_access_time = t.access;
    e.flags = m.options.scramble;
    const uint64_t entry_at = out.tell();
    auto eh = build_entry_header(e, static_cast<uint32_t>(name16.size()));
    out.write(eh.data(), eh.size());
    out.write(name16.data(), name16.size());
    const uint64_t data_at = out.tell();
    const uint64_t original = fs::file_size(m.source);
    const Compress compress = m.options.compress;
    Packed p = write_member_data(out, m, compress != Compress::Never, ansi, level, &progress);
    // A member that does not shrink is stored, unless its stored form would need an
    // ANSI key its name cannot give: then it stays compressed (keyed with UTF-8).
    if (p.compressed && compress == Compress::IfSmaller && p.stored >= original && (ascii || !scrambled)) {
      out.seek(data_at);
      p = write_member_data(out, m, false, ansi, level, nullptr);
    }
    if (data_at + p.stored > 0xFFFFFFFFull) fail("the setup would reach 4 GiB, more than a stream can address");
    e.stored_size = p.stored;
    e.compressed = p.compressed ? 1 : 0;
    const uint64_t end = data_at + p.stored;
    out.seek(entry_at);
    eh = build_entry_header(e, static_cast<uint32_t>(name16.size()));
    out.write(eh.data(), eh.size());
    out.seek(end);
  }
  const uint64_t total = out.tell();
  out.commit(total);
  std::cout << "packed " << members.size() << " members into " << shown(output) << " (stream at " << start << ", "
            << total << " bytes)\n";
  return 0;
}

}  // namespace mksetup
