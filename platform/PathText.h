// Byte-level helpers for narrow code page 936 paths, shared by both platform files and
// the core. A byte 0x81..0xFE starts a two-byte character whose second byte may look
// like ASCII (even like "\\"), so every scan steps over the pair.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace plat {

inline bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The path with every separator ("\\" or "/") written as "/".
std::string ToSlashes(std::string_view path);

// Positions of every separator outside a two-byte character, in order.
std::vector<size_t> SeparatorPositions(std::string_view path);

// Position of the last separator outside a two-byte character, or npos.
size_t LastSeparator(std::string_view path);

// The folder a path lies in: the text before its last separator, "" when it has none.
// With `keepRoot`, a folder that is a root keeps its separator ("/", "C:\\"), since
// "C:" alone names the current folder of drive C rather than its root.
std::string ParentFolder(std::string_view path, bool keepRoot = false);

// The folder of the running executable (the game folder, for the updater).
std::string ModuleFolder();

// Creates `folder` and every missing folder above it, outermost first. True when the
// folder is there afterwards; false at the first level that cannot be made (or when a
// file stands in the way).
bool MakeFolders(const std::string& folder);

// Matches a name against a pattern of the shell's wildcards: "*" any run of bytes,
// "?" one character (a two-byte character counts as one); ASCII letters compare
// without case, as on Windows. "*.*" matches every name, with or without a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Copies at most size-1 bytes of `text` into `out` (size > 0), zero-terminated, never
// cutting a two-byte character in two; returns the bytes copied.
int CopyTruncated(std::string_view text, char* out, int size);

// A name from untrusted input that is safe to create as a file or folder on a disk, on
// every platform: it cannot climb out (".."), name the folder itself, hide a path
// ("a/b", "a\\b" with the backslash outside a two-byte character), a drive or a stream
// (":"), or open a device (CON, NUL, COM1, ...) instead of a file; control bytes and the
// bytes Windows forbids in names (<>"|?*) are refused, but never the second byte of a
// two-byte character. Names of only dots and blanks are refused too: Windows trims
// trailing dots and blanks, which turns ". ." or "..." into "." or "..". (A name that
// only ever lives inside a package needs far less: PckNameIsStorable.)
bool IsSafeName(std::string_view name);

// Whether a POSIX file system can take `name` as it is (the POSIX side of
// IsCreatableName): one part, not "." or "..", no control byte, a two-byte character's
// second byte never read as one.
bool IsPosixCreatableName(std::string_view name);

// True when the text holds "*" or "?".
bool HasWildcards(std::string_view text);

// A shell delete's path taken apart, as both platform layers read it: `slashed`, the
// path with "/" for every separator and no trailing one; `folder`, its folder part as
// written, separator included ("" when there is none); `last`, the name or wildcard
// pattern in that folder; `open`, the folder to look in ("." when there is no folder
// part, "/" for the root); `pattern`, whether `last` has wildcards. False when `last` is
// empty, "." or "..": the shell deletes no parent and no folder named that way.
struct ShellDeleteParts {
  std::string slashed, folder, last, open;
  bool pattern = false;
};
bool SplitShellDeletePath(std::string_view path, ShellDeleteParts& out);

}  // namespace plat
