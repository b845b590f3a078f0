// Reads .3df texture files: four text lines of header, then the table and the texels, big-endian.
#include "texture/tdf_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "glide/tdf.h"
#include "texture/mipmap.h"

namespace glide {
namespace {

// The four header lines are short ("lod range: 256 256" is the longest); a file whose header
// does not end within this many bytes is not a .3df file.
constexpr std::size_t MaxHeaderBytes = 256;

// The NCC table is 16 Y values and 4 × 3 I and Q values, 16-bit words each.
constexpr std::size_t NccTableBytes = (16 + 12 + 12) * 2;
constexpr std::size_t PaletteBytes = 256 * 4;

// What the header says, and where the body starts.
struct ParsedHeader {
  Gu3dfHeader header;
  std::size_t bodyOffset;
  TableKind table;
  std::size_t tableBytes;
  int bytesPerTexel;
  std::uint32_t memRequired;
};

// Up to four white-space separated words of one header line; `count` is 5 when there were more.
struct Words {
  std::string_view word[4];
  int count = 0;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

Words SplitWords(std::string_view line) {
  Words words;
  std::size_t position = 0;
  while (position < line.size()) {
    while (position < line.size() && IsSpace(line[position])) ++position;
    const std::size_t start = position;
    while (position < line.size() && !IsSpace(line[position])) ++position;
    if (position == start) break;
    if (words.count == 4) {
      words.count = 5;
      break;
    }
    words.word[words.count++] = line.substr(start, position - start);
  }
  return words;
}

// A decimal number of at most four digits, or nothing.
std::optional<int> ParseNumber(std::string_view word) {
  if (word.empty() || word.size() > 4) return std::nullopt;
  int value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The level code of a side length: 256 → 0, 128 → 1, ... 1 → 8.
std::optional<int> LodOfSize(int size) {
  for (int lod = GR_LOD_256; lod <= GR_LOD_1; ++lod) {
    if (size == (256 >> lod)) return lod;
  }
  return std::nullopt;
}

std::optional<int> AspectOf(int width, int height) {
  constexpr int Ratios[][2] = {{8, 1}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {1, 8}};
  for (int code = GR_ASPECT_8x1; code <= GR_ASPECT_1x8; ++code) {
    if (Ratios[code][0] == width && Ratios[code][1] == height) return code;
  }
  return std::nullopt;
}

bool IsVersion(std::string_view word) {
  if (word.size() < 2 || word[0] != 'v') return false;
  bool digit = false;
  for (char c : word.substr(1)) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != '.') {
      return false;
    }
  }
  return digit;
}

std::optional<ParsedHeader> ParseHeader(std::span<const std::uint8_t> bytes) {
  const std::size_t limit = bytes.size() < MaxHeaderBytes ? bytes.size() : MaxHeaderBytes;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), limit);
  Words lines[4];
  std::size_t position = 0;
  for (Words& line : lines) {
    const std::size_t end = text.find('\n', position);
    if (end == std::string_view::npos) return std::nullopt;
    line = SplitWords(text.substr(position, end - position));
    position = end + 1;
  }

  if (lines[0].count != 2 || lines[0].word[0] != "3df" || !IsVersion(lines[0].word[1])) return std::nullopt;

  if (lines[1].count != 1) return std::nullopt;
  const TexelFormat* format = FindTexelFormatByName(lines[1].word[0]);
  if (!format) return std::nullopt;

  if (lines[2].count != 4 || lines[2].word[0] != "lod" || lines[2].word[1] != "range:") return std::nullopt;
  const std::optional<int> smallSize = ParseNumber(lines[2].word[2]);
  const std::optional<int> largeSize = ParseNumber(lines[2].word[3]);
  if (!smallSize || !largeSize) return std::nullopt;
  const std::optional<int> smallLod = LodOfSize(*smallSize);
  const std::optional<int> largeLod = LodOfSize(*largeSize);
  if (!smallLod || !largeLod) return std::nullopt;

  if (lines[3].count != 4 || lines[3].word[0] != "aspect" || lines[3].word[1] != "ratio:") return std::nullopt;
  const std::optional<int> aspectWidth = ParseNumber(lines[3].word[2]);
  const std::optional<int> aspectHeight = ParseNumber(lines[3].word[3]);
  if (!aspectWidth || !aspectHeight) return std::nullopt;
  const std::optional<int> aspect = AspectOf(*aspectWidth, *aspectHeight);
  if (!aspect) return std::nullopt;

  MipmapGeometry geometry;
  if (!DescribeMipmap(*smallLod, *largeLod, *aspect, geometry)) return std::nullopt; // small larger than large

  ParsedHeader parsed{};
  parsed.header.width = static_cast<FxU32>(geometry.width[0]);
  parsed.header.height = static_cast<FxU32>(geometry.height[0]);
  parsed.header.small_lod = *smallLod;
  parsed.header.large_lod = *largeLod;
  parsed.header.aspect_ratio = *aspect;
  parsed.header.format = format->code;
  parsed.bodyOffset = position;
  parsed.table = format->table;
  parsed.bytesPerTexel = format->bytesPerTexel;
  parsed.memRequired = geometry.texelCount * static_cast<std::uint32_t>(parsed.bytesPerTexel);
  switch (format->table) {
  case TableKind::None: parsed.tableBytes = 0; break;
  case TableKind::Ncc: parsed.tableBytes = NccTableBytes; break;
  case TableKind::Palette: parsed.tableBytes = PaletteBytes; break;
  }
  return parsed;
}

std::uint16_t BigEndian16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

// I and Q are 9-bit signed values in 16-bit words.
FxI16 SignExtend9(std::uint16_t word) {
  const int value = word & 0x1FF;
  return static_cast<FxI16>(value >= 0x100 ? value - 0x200 : value);
}

GuTexTable DecodeTable(const ParsedHeader& parsed, const std::uint8_t* bytes) {
  GuTexTable table;
  std::memset(&table, 0, sizeof table);
  switch (parsed.table) {
  case TableKind::None: break;
  case TableKind::Ncc:
    // Only the low 8 bits of a Y word count.
    for (FxU8& y : table.nccTable.yRGB) {
      y = static_cast<FxU8>(BigEndian16(bytes));
      bytes += 2;
    }
    for (auto* rows : {&table.nccTable.iRGB, &table.nccTable.qRGB}) {
      for (auto& row : *rows) {
        for (FxI16& value : row) {
          value = SignExtend9(BigEndian16(bytes));
          bytes += 2;
        }
      }
    }
    break;
  case TableKind::Palette:
    for (FxU32& entry : table.palette.data) {
      entry = BigEndian32(bytes);
      bytes += 4;
    }
    break;
  }
  return table;
}

// Turns big-endian 16-bit texels, already copied into `data`, into native ones.
void ConvertTexels(const ParsedHeader& parsed, void* data) {
  if (parsed.bytesPerTexel != 2) return;
  auto* bytes = static_cast<std::uint8_t*>(data);
  for (std::uint32_t offset = 0; offset < parsed.memRequired; offset += 2) {
    const std::uint16_t texel = BigEndian16(bytes + offset);
    std::memcpy(bytes + offset, &texel, 2);
  }
}

void FillInfo(const ParsedHeader& parsed, Gu3dfInfo* info) {
  info->header = parsed.header;
  info->mem_required = parsed.memRequired;
}

// A load needs the caller's buffer, at least as large as this file's data: the block normally
// comes from a description of the same file, and a file that grew since then is refused rather
// than written past the buffer.
bool CanLoadInto(const ParsedHeader& parsed, const Gu3dfInfo* info) {
  return info->data != nullptr && parsed.memRequired <= info->mem_required;
}

// The largest file the reader needs to see: the longest header, a palette and the texels of the
// largest texture, 256 × 256 two-byte texels with every level below. A longer file holds nothing
// more that the reader looks at.
constexpr std::size_t LargestTexelBytes =
    2 * (256 * 256 + 128 * 128 + 64 * 64 + 32 * 32 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2 + 1);
constexpr std::size_t LargestFileBytes = MaxHeaderBytes + PaletteBytes + LargestTexelBytes;

// The first bytes of a file, read into memory for the reader on bytes.
struct FileStart {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;
};

// Reads at most `limit` bytes from the start of the open file, which must be a regular one.
std::optional<FileStart> ReadRegularFile(int descriptor, std::size_t limit) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return std::nullopt;
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return std::nullopt;
  }
  // Never more than the file holds, so a small file takes a small buffer.
  const std::size_t wanted = std::min(limit, static_cast<std::size_t>(status.st_size));
  FileStart start{std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[wanted]), 0};
  if (start.bytes == nullptr) {
    errno = ENOMEM;
    return std::nullopt;
  }
  while (start.size < wanted) {
    const ssize_t count = read(descriptor, start.bytes.get() + start.size, wanted - start.size);
    if (count == 0) break;
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    start.size += static_cast<std::size_t>(count);
  }
  return start;
}

// Reads at most `limit` bytes from the start of a regular file; nothing else can hold a texture.
// A directory cannot be read, and opening a named pipe would wait, for ever if no program writes
// into it, so it is opened without waiting and then refused. On failure errno tells why: the
// system's own error, or EINVAL for a file that is not a regular one.
std::optional<FileStart> ReadFileStart(const char* name, std::size_t limit) {
  const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  std::optional<FileStart> start = ReadRegularFile(descriptor, limit);
  const int error = errno;
  close(descriptor);
  errno = error;
  return start;
}

} // namespace

FxBool Get3dfInfoFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info) {
  if (!info || (!bytes && size > 0)) return FXFALSE;
  const auto parsed = ParseHeader(std::span(static_cast<const std::uint8_t*>(bytes), size));
  if (!parsed) return FXFALSE;
  FillInfo(*parsed, info);
  return FXTRUE;
}

FxBool Load3dfFromMemory(const void* bytes, std::size_t size, Gu3dfInfo* info) {
  if (!info || (!bytes && size > 0)) return FXFALSE;
  const auto* file = static_cast<const std::uint8_t*>(bytes);
  const auto parsed = ParseHeader(std::span(file, size));
  if (!parsed || !CanLoadInto(*parsed, info)) return FXFALSE;
  if (size - parsed->bodyOffset < parsed->tableBytes + parsed->memRequired) return FXFALSE;
  const std::uint8_t* table = file + parsed->bodyOffset;
  info->table = DecodeTable(*parsed, table);
  std::memcpy(info->data, table + parsed->tableBytes, parsed->memRequired);
  ConvertTexels(*parsed, info->data);
  FillInfo(*parsed, info);
  return FXTRUE;
}

namespace {

// Reads at most `limit` bytes of the file's start and parses them with `parse`; on failure errno
// tells why: the system's reason, or EINVAL for what is not a texture.
bool ParseFileStart(const char* fileName, Gu3dfInfo* info, std::size_t limit,
                    FxBool (*parse)(const void*, std::size_t, Gu3dfInfo*)) {
  if (fileName == nullptr || info == nullptr) {
    errno = EINVAL;
    return false;
  }
  const std::optional<FileStart> file = ReadFileStart(fileName, limit);
  if (!file) return false;
  if (!parse(file->bytes.get(), file->size, info)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

} // namespace

bool Get3dfInfoFromFile(const char* fileName, Gu3dfInfo* info) {
  return ParseFileStart(fileName, info, MaxHeaderBytes, Get3dfInfoFromMemory);
}

bool Load3dfFromFile(const char* fileName, Gu3dfInfo* info) {
  return ParseFileStart(fileName, info, LargestFileBytes, Load3dfFromMemory);
}

} // namespace glide
