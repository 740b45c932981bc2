#include "tests/ui/PngFile.h"

#include "platform/Platform.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

namespace qvtest {

namespace {

void PutBE32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char type[4], const std::string& data) {
  PutBE32(out, static_cast<uint32_t>(data.size()));
  std::string body(type, 4);
  body += data;
  out += body;
  PutBE32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                           static_cast<uInt>(body.size()))));
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
  if (width <= 0 || height <= 0 || rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
    return false;
  // Every row starts with filter type 0 (none).
  const size_t stride = static_cast<size_t>(width) * 4;
  std::string raw;
  raw.reserve((stride + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(rgba.data()) + static_cast<size_t>(y) * stride, stride);
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 9) != Z_OK)
    return false;
  packed.resize(packedSize);

  std::string header;
  PutBE32(header, static_cast<uint32_t>(width));
  PutBE32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace

  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", "");

  std::unique_ptr<FILE, int (*)(FILE*)> file(plat::OpenFile(path, "wb"), &std::fclose);
  if (!file) return false;
  if (std::fwrite(png.data(), 1, png.size(), file.get()) != png.size()) return false;
  return std::fclose(file.release()) == 0;
}

}  // namespace qvtest
