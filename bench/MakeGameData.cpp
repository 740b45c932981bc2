// qv_make_game_data OUTDIR [SEED]: the game-like data of the delta benchmark
// (scripts/delta-bench.sh). Writes three versions of one game, each as the folders its
// packages are made from and its plain files:
//   OUTDIR/old    the old game, about 72 MB of decoded content
//   OUTDIR/new1   the old game with about 1 % of its bytes changed
//   OUTDIR/new5   the old game with about 5 % of its bytes changed
// Each version has pack/bld and pack/mb (the sources of the packages bld and mb) and
// game/ (its plain files; the script makes the packages beside them). The package bld
// holds textures (smooth images with noise and their mip chains, behind a table of mip
// offsets), meshes (float vertex arrays and index arrays, behind a table of sub-mesh
// offsets), already compressed media (random bytes) and bundles (many small records
// behind a table of offsets); mb holds text tables. The changes are scattered edits,
// inserts and removals spread over many entries but not all of them, with every offset
// table brought up to date. OUTDIR/changed-new1.txt and changed-new5.txt list the files
// that differ from the old version (paths below the version's folder), and
// OUTDIR/summary.txt tells the make-up. A fixed seed: the same bytes on every run (SEED
// gives another game of the same make-up).
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// splitmix64: small, fast and the same everywhere.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return n ? uint32_t(Next() % n) : 0; }
  uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
  double Unit() { return double(Next() >> 11) / double(1ull << 53); }
  void Fill(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(Next() >> 56);
  }

 private:
  uint64_t m_state;
};

enum class Kind { Texture, Mesh, Media, Bundle, Table, Program, Config };
const char* const kKindNames[] = {"textures", "meshes", "media", "bundles", "tables", "program", "config"};

struct File {
  std::string path;  // below the version's folder
  Kind kind;
  Bytes data;
};

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(b[at + size_t(i)]) << (8 * i);
  return v;
}
void Append32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  Put32(b, b.size() - 4, v);
}
void AppendFloat(Bytes& b, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Append32(b, v);
}
float GetFloat(const Bytes& b, size_t at) {
  const uint32_t v = Get32(b, at);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
void PutFloat(Bytes& b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Put32(b, at, v);
}
void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// ---- textures: "QTEX", width, height, mip count, then (offset, size) per mip, then
// the mips, RGBA. The pixels are a few smooth waves with noise on top.

struct Waves {
  double base[4], amp[3][4], fx[3], fy[3], phase[3];
  int noise;
};

Waves RandomWaves(CRandom& r) {
  Waves w{};
  for (int c = 0; c < 4; ++c) w.base[c] = 60 + r.Below(140);
  for (int k = 0; k < 3; ++k) {
    for (int c = 0; c < 4; ++c) w.amp[k][c] = c == 3 ? 0 : 10 + r.Below(40);
    w.fx[k] = (r.Unit() - 0.5) * 0.08;
    w.fy[k] = (r.Unit() - 0.5) * 0.08;
    w.phase[k] = r.Unit() * 6.28;
  }
  w.noise = int(r.Below(7));  // 0: clean artwork, 6: photographic grain
  return w;
}

uint8_t WavePixel(const Waves& w, CRandom& r, int x, int y, int c) {
  double v = w.base[c];
  for (int k = 0; k < 3; ++k) v += w.amp[k][c] * std::sin(w.fx[k] * x + w.fy[k] * y + w.phase[k]);
  if (w.noise) v += int(r.Below(uint32_t(2 * w.noise + 1))) - w.noise;
  return uint8_t(std::clamp(v, 0.0, 255.0));
}

constexpr size_t kTexHeader = 16;

// Rebuilds the mips below the first from it (2x2 boxes), only inside the rectangle of
// the first mip that changed.
void RebuildMips(Bytes& t, int x0, int y0, int x1, int y1) {
  const uint32_t mips = Get32(t, 12);
  int w = int(Get32(t, 4)), h = int(Get32(t, 8));
  for (uint32_t m = 1; m < mips; ++m) {
    const size_t from = Get32(t, kTexHeader + 8 * (m - 1)), to = Get32(t, kTexHeader + 8 * m);
    const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
    x0 /= 2, y0 /= 2, x1 = std::min(nw, (x1 + 1) / 2), y1 = std::min(nh, (y1 + 1) / 2);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        for (int c = 0; c < 4; ++c) {
          auto at = [&](int xx, int yy) {
            return int(t[from + (size_t(std::min(yy, h - 1)) * size_t(w) + size_t(std::min(xx, w - 1))) * 4 + size_t(c)]);
          };
          const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
          t[to + (size_t(y) * size_t(nw) + size_t(x)) * 4 + size_t(c)] = uint8_t(sum / 4);
        }
    w = nw, h = nh;
  }
}

Bytes MakeTexture(CRandom& r, int w, int h) {
  uint32_t mips = 1;
  while ((w >> mips) >= 4 && (h >> mips) >= 4) ++mips;
  Bytes t(kTexHeader + 8 * mips);
  std::memcpy(t.data(), "QTEX", 4);
  Put32(t, 4, uint32_t(w));
  Put32(t, 8, uint32_t(h));
  Put32(t, 12, mips);
  for (uint32_t m = 0; m < mips; ++m) {
    const size_t size = size_t(std::max(1, w >> m)) * size_t(std::max(1, h >> m)) * 4;
    Put32(t, kTexHeader + 8 * m, uint32_t(t.size()));
    Put32(t, kTexHeader + 8 * m + 4, uint32_t(size));
    t.resize(t.size() + size);
  }
  const Waves waves = RandomWaves(r);
  const size_t first = Get32(t, kTexHeader);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) t[first + (size_t(y) * size_t(w) + size_t(x)) * 4 + size_t(c)] = WavePixel(waves, r, x, y, c);
  RebuildMips(t, 0, 0, w, h);
  return t;
}

// Repaints a rectangle of about `want` bytes (with its mips) with new artwork, or tints
// it (every byte of it moves a little). Returns the bytes it changed.
size_t EditTexture(Bytes& t, CRandom& r, size_t want) {
  const int w = int(Get32(t, 4)), h = int(Get32(t, 8));
  const size_t first = Get32(t, kTexHeader);
  const double area = std::max(64.0, double(want) / 4.0 * 0.75);
  int rw = std::clamp(int(std::sqrt(area) * (0.5 + r.Unit())), 8, std::min(w, 256));
  int rh = std::clamp(int(area / rw), 8, std::min(h, 256));
  const int x0 = int(r.Below(uint32_t(w - rw + 1))), y0 = int(r.Below(uint32_t(h - rh + 1)));
  const bool tint = r.Below(4) == 0;
  const Waves waves = RandomWaves(r);
  int shift[4];
  for (int& s : shift) s = int(r.Below(31)) - 15;
  for (int y = y0; y < y0 + rh; ++y)
    for (int x = x0; x < x0 + rw; ++x)
      for (int c = 0; c < 4; ++c) {
        uint8_t& p = t[first + (size_t(y) * size_t(w) + size_t(x)) * 4 + size_t(c)];
        p = tint ? uint8_t(std::clamp(int(p) + (c == 3 ? 0 : shift[c]), 0, 255)) : WavePixel(waves, r, x, y, c);
      }
  RebuildMips(t, x0, y0, x0 + rw, y0 + rh);
  return size_t(rw) * size_t(rh) * 4 * 4 / 3;
}

// ---- meshes: "QMSH", sub-mesh count, then per sub-mesh (vertex offset, vertex count,
// index offset, index count), then every sub-mesh's vertices (position, normal, uv:
// eight floats), then every sub-mesh's triangles (32-bit indices local to it).

constexpr size_t kVertex = 32;

struct SubMesh {
  Bytes vertices, indices;
};

Bytes PackMesh(const std::vector<SubMesh>& subs) {
  Bytes m(8 + 16 * subs.size());
  std::memcpy(m.data(), "QMSH", 4);
  Put32(m, 4, uint32_t(subs.size()));
  size_t at = m.size();
  for (size_t i = 0; i < subs.size(); ++i) {
    Put32(m, 8 + 16 * i, uint32_t(at));
    Put32(m, 12 + 16 * i, uint32_t(subs[i].vertices.size() / kVertex));
    at += subs[i].vertices.size();
  }
  for (size_t i = 0; i < subs.size(); ++i) {
    Put32(m, 16 + 16 * i, uint32_t(at));
    Put32(m, 20 + 16 * i, uint32_t(subs[i].indices.size() / 4));
    at += subs[i].indices.size();
  }
  for (const SubMesh& s : subs) m.insert(m.end(), s.vertices.begin(), s.vertices.end());
  for (const SubMesh& s : subs) m.insert(m.end(), s.indices.begin(), s.indices.end());
  return m;
}

std::vector<SubMesh> UnpackMesh(const Bytes& m) {
  std::vector<SubMesh> subs(Get32(m, 4));
  for (size_t i = 0; i < subs.size(); ++i) {
    const size_t v = Get32(m, 8 + 16 * i), vn = Get32(m, 12 + 16 * i);
    const size_t x = Get32(m, 16 + 16 * i), xn = Get32(m, 20 + 16 * i);
    subs[i].vertices.assign(m.begin() + long(v), m.begin() + long(v + vn * kVertex));
    subs[i].indices.assign(m.begin() + long(x), m.begin() + long(x + xn * 4));
  }
  return subs;
}

void AppendVertex(Bytes& v, CRandom& r, float x, float y, float z) {
  AppendFloat(v, x);
  AppendFloat(v, y);
  AppendFloat(v, z);
  const float nx = float(r.Unit() - 0.5) * 0.2f, ny = float(r.Unit() - 0.5) * 0.2f;
  AppendFloat(v, nx);
  AppendFloat(v, ny);
  AppendFloat(v, std::sqrt(1.0f - nx * nx - ny * ny));
  AppendFloat(v, x / 64.0f);
  AppendFloat(v, y / 64.0f);
}

SubMesh MakeSubMesh(CRandom& r, int gw, int gh) {
  SubMesh s;
  const double a = r.Unit() * 4, fx = r.Unit() * 0.3, fy = r.Unit() * 0.3;
  for (int y = 0; y < gh; ++y)
    for (int x = 0; x < gw; ++x)
      AppendVertex(s.vertices, r, float(x) + float(r.Unit()) * 0.1f, float(y) + float(r.Unit()) * 0.1f,
                   float(a * std::sin(fx * x) * std::cos(fy * y) + r.Unit() * 0.05));
  for (int y = 0; y + 1 < gh; ++y)
    for (int x = 0; x + 1 < gw; ++x) {
      const uint32_t i = uint32_t(y * gw + x);
      for (uint32_t k : {i, i + 1, i + uint32_t(gw), i + 1, i + uint32_t(gw) + 1, i + uint32_t(gw)}) Append32(s.indices, k);
    }
  return s;
}

// Moves a run of vertices, adds vertices with the triangles that use them, or drops a
// run of triangles; the sub-mesh table follows.
size_t EditMesh(Bytes& m, CRandom& r, size_t want) {
  std::vector<SubMesh> subs = UnpackMesh(m);
  SubMesh& s = subs[r.Below(uint32_t(subs.size()))];
  const size_t count = s.vertices.size() / kVertex;
  size_t changed = 0;
  switch (r.Below(3)) {
    case 0: {  // an artist pulls a region: positions move, the rest stays
      const size_t n = std::clamp<size_t>(want / 12, 4, count);
      const size_t from = r.Below(uint32_t(count - n + 1));
      const float dz = float(r.Unit() - 0.5);
      for (size_t i = from; i < from + n; ++i) PutFloat(s.vertices, i * kVertex + 8, GetFloat(s.vertices, i * kVertex + 8) + dz);
      changed = n * 12;
      break;
    }
    case 1: {  // new geometry at the end of the sub-mesh
      const size_t n = std::clamp<size_t>(want / (kVertex + 12), 3, 4096);
      for (size_t i = 0; i < n; ++i)
        AppendVertex(s.vertices, r, float(r.Unit() * 64), float(r.Unit() * 64), float(r.Unit() * 4));
      for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) Append32(s.indices, uint32_t(count + (i + size_t(k)) % n));
      changed = n * (kVertex + 12);
      break;
    }
    default: {  // triangles removed
      const size_t tris = s.indices.size() / 12;
      const size_t n = std::clamp<size_t>(want / 12, 1, tris / 2);
      const size_t from = r.Below(uint32_t(tris - n + 1));
      s.indices.erase(s.indices.begin() + long(from * 12), s.indices.begin() + long((from + n) * 12));
      changed = n * 12;
    }
  }
  m = PackMesh(subs);
  return changed;
}

// ---- media: already compressed (random bytes behind a small header); a change cuts a
// piece out and puts newly encoded bytes of another length in its place.

size_t EditMedia(Bytes& b, CRandom& r, size_t want) {
  const size_t cut = std::min<size_t>(b.size() / 4, r.Between(0, uint32_t(want)));
  const size_t put = std::max<size_t>(16, want - cut / 2);
  const size_t at = 64 + r.Below(uint32_t(b.size() - cut - 64));
  Bytes fresh(put);
  r.Fill(fresh.data(), put);
  b.erase(b.begin() + long(at), b.begin() + long(at + cut));
  b.insert(b.begin() + long(at), fresh.begin(), fresh.end());
  return cut + put;
}

// ---- bundles: "QPAK", record count, then per record (offset, size, id), then the
// records: short text, small float structs or opaque bytes.

const std::vector<std::string> kWords = {"iron", "sword", "ember", "frost", "guard", "vale", "river", "stone", "shade",
                                   "crown", "wolf", "oak", "ash", "storm", "gate", "tower", "lantern", "moss"};

Bytes MakeRecord(CRandom& r) {
  Bytes rec;
  switch (r.Below(3)) {
    case 0:
      for (int n = int(r.Between(4, 60)), i = 0; i < n; ++i)
        AppendText(rec, kWords[r.Below(uint32_t(kWords.size()))] + (i % 9 == 8 ? ".\n" : " "));
      break;
    case 1:
      for (int n = int(r.Between(8, 400)), i = 0; i < n; ++i) AppendFloat(rec, float(int(r.Below(2000)) - 1000) / 8.0f);
      break;
    default:
      rec.resize(r.Between(64, 4096));
      r.Fill(rec.data(), rec.size());
  }
  return rec;
}

Bytes PackBundle(const std::vector<std::pair<uint32_t, Bytes>>& recs) {
  Bytes b(8 + 12 * recs.size());
  std::memcpy(b.data(), "QPAK", 4);
  Put32(b, 4, uint32_t(recs.size()));
  for (size_t i = 0; i < recs.size(); ++i) {
    Put32(b, 8 + 12 * i, uint32_t(b.size()));
    Put32(b, 12 + 12 * i, uint32_t(recs[i].second.size()));
    Put32(b, 16 + 12 * i, recs[i].first);
    b.insert(b.end(), recs[i].second.begin(), recs[i].second.end());
  }
  return b;
}

std::vector<std::pair<uint32_t, Bytes>> UnpackBundle(const Bytes& b) {
  std::vector<std::pair<uint32_t, Bytes>> recs(Get32(b, 4));
  for (size_t i = 0; i < recs.size(); ++i) {
    const size_t at = Get32(b, 8 + 12 * i), size = Get32(b, 12 + 12 * i);
    recs[i] = {Get32(b, 16 + 12 * i), Bytes(b.begin() + long(at), b.begin() + long(at + size))};
  }
  return recs;
}

// Inserts records, removes one or rewrites a piece of one: every later offset moves.
size_t EditBundle(Bytes& b, CRandom& r, size_t want) {
  auto recs = UnpackBundle(b);
  size_t changed = 0;
  const uint32_t what = r.Below(3);
  if (what == 0 || recs.size() < 8) {
    size_t at = r.Below(uint32_t(recs.size() + 1));
    do {
      Bytes rec = MakeRecord(r);
      changed += rec.size() + 12;
      recs.insert(recs.begin() + long(at++), {uint32_t(r.Next()), std::move(rec)});
    } while (changed < want);
  } else if (what == 1) {
    const size_t at = r.Below(uint32_t(recs.size()));
    changed = recs[at].second.size() + 12;
    recs.erase(recs.begin() + long(at));
  } else {
    Bytes& rec = recs[r.Below(uint32_t(recs.size()))].second;
    const size_t n = std::min(rec.size(), std::max<size_t>(4, want));
    const size_t at = r.Below(uint32_t(rec.size() - n + 1));
    Bytes fresh = MakeRecord(r);
    for (size_t i = 0; i < n; ++i) rec[at + i] = fresh[i % fresh.size()];
    changed = n;
  }
  b = PackBundle(recs);
  return changed;
}

// ---- tables: CSV rows of game records.

std::string MakeRow(CRandom& r, uint32_t id) {
  std::string row = std::to_string(id) + "," + kWords[r.Below(uint32_t(kWords.size()))] + "_" +
                    kWords[r.Below(uint32_t(kWords.size()))] + "," + std::to_string(r.Between(1, 80));
  for (int i = 0; i < 5; ++i) {
    row += ',';
    row += std::to_string(r.Below(5000));
  }
  row += ",\"";
  for (int n = int(r.Between(3, 14)), i = 0; i < n; ++i) {
    if (i) row += ' ';
    row += kWords[r.Below(uint32_t(kWords.size()))];
  }
  return row + "\"\n";
}

std::vector<std::string> SplitRows(const Bytes& b) {
  std::vector<std::string> rows;
  size_t start = 0;
  for (size_t i = 0; i < b.size(); ++i)
    if (b[i] == '\n') {
      rows.emplace_back(b.begin() + long(start), b.begin() + long(i + 1));
      start = i + 1;
    }
  return rows;
}

// Edits a few rows' values, inserts new rows or removes some (the header row stays).
size_t EditTable(Bytes& b, CRandom& r, size_t want) {
  std::vector<std::string> rows = SplitRows(b);
  size_t changed = 0;
  const uint32_t what = r.Below(3);
  size_t at = 1 + r.Below(uint32_t(rows.size() - 1));
  while (changed < want && at < rows.size()) {
    if (what == 0) {
      changed += rows[at].size();
      rows[at] = MakeRow(r, uint32_t(std::atoi(rows[at].c_str())));
      at += 1 + r.Below(40);
    } else if (what == 1) {
      rows.insert(rows.begin() + long(at), MakeRow(r, 100000 + r.Below(900000)));
      changed += rows[at++].size();
    } else {
      changed += rows[at].size();
      rows.erase(rows.begin() + long(at));
      if (rows.size() < 4) break;
    }
  }
  b.clear();
  for (const std::string& row : rows) AppendText(b, row);
  return changed;
}

// ---- the program: code-like bytes (a small vocabulary of opcodes with operands);
// a change puts a new routine in place of an old one of another length.

Bytes MakeCode(CRandom& r, size_t size) {
  static const uint8_t ops[][3] = {{0x48, 0x89, 0xC3}, {0x48, 0x8B, 0x45}, {0xE8, 0, 0}, {0x0F, 0x84, 0},
                                   {0x55, 0, 0},       {0xC3, 0, 0},       {0x83, 0xC0, 0}, {0x8B, 0x4D, 0}};
  Bytes b;
  while (b.size() < size) {
    const uint8_t* op = ops[r.Below(8)];
    for (int i = 0; i < 3 && (i == 0 || op[i]); ++i) b.push_back(op[i]);
    for (int n = int(r.Below(5)), i = 0; i < n; ++i) b.push_back(uint8_t(r.Below(4) ? r.Below(16) : r.Next()));
  }
  b.resize(size);
  return b;
}

size_t EditCode(Bytes& b, CRandom& r, size_t want) {
  const size_t cut = std::min<size_t>(b.size() / 4, r.Between(uint32_t(want / 2), uint32_t(want)));
  const size_t at = r.Below(uint32_t(b.size() - cut));
  Bytes fresh = MakeCode(r, std::max<size_t>(16, want - cut / 2));
  b.erase(b.begin() + long(at), b.begin() + long(at + cut));
  b.insert(b.begin() + long(at), fresh.begin(), fresh.end());
  return cut + fresh.size();
}

size_t Edit(File& f, CRandom& r, size_t want) {
  switch (f.kind) {
    case Kind::Texture: return EditTexture(f.data, r, want);
    case Kind::Mesh: return EditMesh(f.data, r, want);
    case Kind::Media: return EditMedia(f.data, r, want);
    case Kind::Bundle: return EditBundle(f.data, r, want);
    case Kind::Table: return EditTable(f.data, r, want);
    case Kind::Program: return EditCode(f.data, r, want);
    case Kind::Config: {
      AppendText(f.data, "; changed\nQuality=" + std::to_string(r.Below(4)) + "\n");
      return 20;
    }
  }
  return 0;
}

std::vector<File> MakeOldGame(uint64_t seed) {
  CRandom r(seed);
  std::vector<File> files;
  char name[64];
  auto budget = [&](Kind k, size_t total, auto make) {
    size_t made = 0;
    for (int i = 0; made < total; ++i) {
      File f{"", k, make(i, name)};
      f.path = name;
      made += f.data.size();
      files.push_back(std::move(f));
    }
  };
  budget(Kind::Texture, 34u << 20, [&](int i, char* n) {
    std::snprintf(n, 64, "pack/bld/tex/t%03d.tex", i);
    static const int sides[] = {256, 512, 512, 1024};
    return MakeTexture(r, sides[r.Below(3)], sides[r.Below(4)]);
  });
  budget(Kind::Mesh, 14u << 20, [&](int i, char* n) {
    std::snprintf(n, 64, "pack/bld/mesh/m%03d.msh", i);
    std::vector<SubMesh> subs;
    for (int k = int(r.Between(2, 8)); k > 0; --k) subs.push_back(MakeSubMesh(r, int(r.Between(16, 96)), int(r.Between(16, 96))));
    return PackMesh(subs);
  });
  budget(Kind::Media, 8u << 20, [&](int i, char* n) {
    std::snprintf(n, 64, "pack/bld/sound/s%03d.ogg", i);
    Bytes b(r.Between(100000, 1200000));
    r.Fill(b.data(), b.size());
    std::memcpy(b.data(), "OggS", 4);
    return b;
  });
  budget(Kind::Bundle, 6u << 20, [&](int i, char* n) {
    std::snprintf(n, 64, "pack/bld/data/b%03d.pak", i);
    std::vector<std::pair<uint32_t, Bytes>> recs;
    for (int k = int(r.Between(100, 600)); k > 0; --k) recs.push_back({uint32_t(r.Next()), MakeRecord(r)});
    return PackBundle(recs);
  });
  budget(Kind::Table, 8u << 20, [&](int i, char* n) {
    std::snprintf(n, 64, "pack/mb/table/tab%03d.csv", i);
    Bytes b;
    AppendText(b, "id,name,level,hp,atk,def,price,weight,desc\n");
    for (uint32_t k = 0, rows = r.Between(1000, 8000); k < rows; ++k) AppendText(b, MakeRow(r, 1000 + k));
    return b;
  });
  files.push_back({"game/Quorvane.bin", Kind::Program, MakeCode(r, 3u << 20)});
  Bytes ini;
  AppendText(ini, "[Video]\nWidth=1024\nHeight=768\nQuality=2\n[Sound]\nVolume=80\n");
  files.push_back({"game/config.ini", Kind::Config, ini});
  return files;
}

// The new version: about `percent` % of all bytes changed, over a share `spread` of the
// files, each getting edits in proportion to its size.
std::vector<File> Change(std::vector<File> files, uint64_t seed, double percent, double spread, size_t& changed,
                         std::vector<std::string>& changedPaths) {
  CRandom r(seed);
  size_t total = 0, chosenBytes = 0;
  std::vector<File*> chosen;
  for (File& f : files) total += f.data.size();
  for (File& f : files)
    if (r.Unit() < spread) chosen.push_back(&f), chosenBytes += f.data.size();
  const double budget = double(total) * percent / 100.0;
  changed = 0;
  for (File* f : chosen) {
    const size_t share = size_t(budget * double(f->data.size()) / double(chosenBytes));
    size_t done = 0;
    while (done < share) {
      // Pieces of 2 to 64 KiB, fewer and larger in large files.
      const size_t piece = std::min(share - done, size_t(r.Between(2048, 65536)));
      done += Edit(*f, r, std::max<size_t>(piece, 64));
    }
    changed += done;
    changedPaths.push_back(f->path);
  }
  return files;
}

bool MakeDirs(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    if (mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return false;
  return true;
}

// Every file with the same time stamp, so that two runs make the same packages.
bool WriteFile(const std::string& path, const Bytes& data) {
  if (!MakeDirs(path)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok) return false;
  const timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
  return utimes(path.c_str(), times) == 0;
}

bool WriteVersion(const std::string& dir, const std::vector<File>& files, const std::string& version) {
  for (const File& f : files)
    if (!WriteFile(dir + "/" + f.path, f.data)) return false;
  const std::string cver = "[Ver]\r\nCurVer=" + version + "\r\nValidVer=1.0.0\r\n";
  return WriteFile(dir + "/game/CVer.txt", Bytes(cver.begin(), cver.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: qv_make_game_data OUTDIR [SEED]\n");
    return 2;
  }
  const std::string out = argv[1];
  const std::vector<File> old = MakeOldGame(argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 20240601);
  size_t total = 0, perKind[7] = {}, countKind[7] = {};
  for (const File& f : old) {
    total += f.data.size();
    perKind[int(f.kind)] += f.data.size();
    ++countKind[int(f.kind)];
  }
  std::string summary = "old game: " + std::to_string(old.size()) + " files, " + std::to_string(total) + " bytes\n";
  for (int k = 0; k < 7; ++k)
    summary += "  " + std::string(kKindNames[k]) + ": " + std::to_string(countKind[k]) + " files, " +
               std::to_string(perKind[k]) + " bytes\n";
  if (!WriteVersion(out + "/old", old, "1.0.0")) return std::perror(out.c_str()), 1;
  const struct {
    const char* name;
    double percent, spread;
  } versions[] = {{"new1", 1, 0.35}, {"new5", 5, 0.6}};
  for (const auto& v : versions) {
    size_t changed = 0;
    std::vector<std::string> paths;
    const std::vector<File> files = Change(old, 777 + uint64_t(v.percent), v.percent, v.spread, changed, paths);
    if (!WriteVersion(out + "/" + v.name, files, std::string("1.0.") + (v.percent < 2 ? "1" : "5"))) return 1;
    std::string list = "game/CVer.txt\n";
    for (const std::string& p : paths) list += p + "\n";
    if (!WriteFile(out + "/changed-" + v.name + ".txt", Bytes(list.begin(), list.end()))) return 1;
    char line[200];
    std::snprintf(line, sizeof line, "%s: %zu of %zu files changed, %zu bytes edited (%.2f %%)\n", v.name, paths.size(),
                  old.size(), changed, 100.0 * double(changed) / double(total));
    summary += line;
  }
  if (!WriteFile(out + "/summary.txt", Bytes(summary.begin(), summary.end()))) return 1;
  std::fputs(summary.c_str(), stdout);
  return 0;
}
