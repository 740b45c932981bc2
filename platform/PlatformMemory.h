// The in-memory file system of the fuzzing build (PlatformMemory.cpp, chosen by CMake
// instead of PlatformPosix.cpp when QV_FUZZ is on). Every call of platform/Platform.h
// then works on one tree held in the process: no real folder is made, nothing is synced,
// and a harness can set up, compare and throw away a game folder in microseconds.
// Names are code page 936 bytes as the program speaks them ("\\" and "/" both separate,
// the trail byte of a two-byte character never does); there are no links. What this
// header adds is for the harnesses only: filling, inspecting and resetting the tree.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace plat::memfs {

// Empties the tree (only the root "/" is left), makes "/" the working folder and lets
// go of every folder lock and instance mutex. Files still open stay readable.
void Reset();

// Whole-file helpers that bypass the fault hook: a file with `bytes`, its folders made
// as needed (false when a file stands in the way); the content of a file.
bool WriteFile(const std::string& path, std::string_view bytes);
bool ReadFile(const std::string& path, std::string& out);
// Makes `path` and every folder above it; false when a file stands in the way.
bool MakeDirs(const std::string& path);
// Removes a file or a folder with everything below it; missing is fine.
void RemoveAll(const std::string& path);

// Every file and folder below `root`: the relative path ("/" between parts) -> "d" for
// a folder, "f" and the content for a file.
std::map<std::string, std::string> Snapshot(const std::string& root);

// How many changes the tree has seen: every file made, written, truncated, renamed or
// removed, every folder made or removed, every attribute or time changed, by the
// platform layer or by the helpers here (Restore too). A harness that must change
// nothing compares it before and after: cheaper than a snapshot, and it also catches a
// change that was undone.
uint64_t Changes();

// A copy of the whole tree, to put back later in one step (a fixture built once).
class CImage {
 public:
  CImage();
  ~CImage();
  CImage(CImage&&) noexcept;
  CImage& operator=(CImage&&) noexcept;
  struct Impl;

 private:
  friend CImage Save();
  friend void Restore(const CImage& image);
  std::unique_ptr<Impl> m_impl;
};
CImage Save();
// Puts the tree back as it was saved (the working folder becomes "/").
void Restore(const CImage& image);

// The bytes all files hold together; a write that would take them past the capacity
// fails with a full disk, and FreeSpace reports what is left.
uint64_t UsedBytes();
inline constexpr uint64_t kCapacity = 256u << 20;

// What ModuleFileName reports ("/QuorvaneUpdate.exe" unless set).
void SetModuleFileName(const std::string& path);

}  // namespace plat::memfs
