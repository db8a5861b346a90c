// Native zlib baseline for the stream benchmark: file-to-file deflate and inflate
// with plain zlib, and a generator of compressible test data.
//   zbench gen OUT MIB        deterministic text-like data
//   zbench deflate IN OUT LEVEL
//   zbench inflate IN OUT
// Prints "seconds=<s> in=<bytes> out=<bytes>". Output is left to the system's cache,
// closed but not flushed, as the launcher leaves the members it writes.
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>


namespace {

constexpr size_t kBuf = 1 << 16;

int gen(const char* path, long mib) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  static const char* words[] = {"setup", "stream", "member", "install", "package", "launcher", "product", "feature",
                                "version", "registry", "folder", "value", "restart", "prerequisite", "language",
                                "string", "\r\n", "=", "0x0409", "[Startup]", "MsiExec", "cabinet", "transform"};
  uint64_t x = 0x9E3779B97F4A7C15ull;
  std::vector<char> buf;
  const uint64_t total = static_cast<uint64_t>(mib) << 20;
  uint64_t written = 0;
  while (written < total) {
    buf.clear();
    while (buf.size() < kBuf) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      if ((x & 7) == 0) {  // some noise so the data is not trivially compressible
        buf.push_back(static_cast<char>(x >> 24));
        buf.push_back(static_cast<char>(x >> 32));
      }
      const char* w = words[(x >> 8) % (sizeof words / sizeof *words)];
      buf.insert(buf.end(), w, w + std::strlen(w));
      buf.push_back(' ');
    }
    size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), total - written));
    if (std::fwrite(buf.data(), 1, n, f) != n) return 1;
    written += n;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int run_zlib(bool compress, const char* in_path, const char* out_path, int level) {
  FILE* in = std::fopen(in_path, "rb");
  FILE* out = std::fopen(out_path, "wb");
  if (!in || !out) return 1;
  auto t0 = std::chrono::steady_clock::now();
  z_stream z{};
  int r = compress ? deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) : inflateInit2(&z, 15);
  if (r != Z_OK) return 1;
  std::vector<unsigned char> ib(kBuf), ob(kBuf);
  uint64_t total_in = 0, total_out = 0;
  bool end = false;
  while (!end) {
    size_t n = std::fread(ib.data(), 1, ib.size(), in);
    total_in += n;
    const bool last = n < ib.size();
    z.next_in = ib.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = ob.data();
      z.avail_out = static_cast<uInt>(ob.size());
      r = compress ? deflate(&z, last ? Z_FINISH : Z_NO_FLUSH) : inflate(&z, Z_NO_FLUSH);
      if (r == Z_STREAM_ERROR || r == Z_DATA_ERROR || r == Z_NEED_DICT || r == Z_MEM_ERROR) return 1;
      size_t produced = ob.size() - z.avail_out;
      if (std::fwrite(ob.data(), 1, produced, out) != produced) return 1;
      total_out += produced;
      if (r == Z_STREAM_END) end = true;
    } while (!end && (z.avail_out == 0 || (compress && last)));
    if (last) end = true;
  }
  compress ? deflateEnd(&z) : inflateEnd(&z);
  std::fclose(in);
  if (std::fclose(out) != 0) return 1;
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("seconds=%.3f in=%llu out=%llu\n", s, static_cast<unsigned long long>(total_in),
              static_cast<unsigned long long>(total_out));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "gen")) return gen(argv[2], std::atol(argv[3]));
  if (argc == 5 && !std::strcmp(argv[1], "deflate")) return run_zlib(true, argv[2], argv[3], std::atoi(argv[4]));
  if (argc == 4 && !std::strcmp(argv[1], "inflate")) return run_zlib(false, argv[2], argv[3], 0);
  std::fprintf(stderr, "usage: zbench gen OUT MIB | deflate IN OUT LEVEL | inflate IN OUT\n");
  return 2;
}
