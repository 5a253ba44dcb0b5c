#include "pipeline/data_script.h"

#include <libdeflate.h>

#include <memory>
#include <stdexcept>

namespace vordak::pipeline {

namespace {

struct CompressorDeleter {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// One compressor per thread and level: making one costs more than a small file.
libdeflate_compressor* compressor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> kept;
  thread_local int kept_level = 0;
  if (!kept || kept_level != level) {
    kept.reset(libdeflate_alloc_compressor(level));
    if (!kept) throw std::runtime_error("gzip: no compressor for level " + std::to_string(level));
    kept_level = level;
  }
  return kept.get();
}

}  // namespace

std::string gzip(std::string_view payload, int level) {
  libdeflate_compressor* c = compressor(level);
  std::string out(libdeflate_gzip_compress_bound(c, payload.size()), '\0');
  const std::size_t size = libdeflate_gzip_compress(c, payload.data(), payload.size(), out.data(), out.size());
  if (size == 0) throw std::runtime_error("gzip: the output did not fit its bound");
  out.resize(size);
  return out;
}

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  std::size_t at = 0;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out[at++] = kDigits[v >> 18];
    out[at++] = kDigits[v >> 12 & 63];
    out[at++] = kDigits[v >> 6 & 63];
    out[at++] = kDigits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
    out[at++] = kDigits[v >> 18];
    out[at++] = kDigits[v >> 12 & 63];
    if (two) out[at] = kDigits[v >> 6 & 63];
  }
  return out;
}

std::string data_script(std::string_view name, std::string_view payload, int level) {
  return "vrdVeri(\"" + std::string(name) + "\",\"" + base64(gzip(payload, level)) + "\");\n";
}

}  // namespace vordak::pipeline
