// One error record for the core, in the style of libarchive's archive_set_error: what
// kind of failure it was, the file it concerns, the operating system's code where there
// is one, and the whole text for a person ("cannot replace bld.dat: Permission
// denied"). The object that failed keeps it; its int results stay as its interface has
// them, and the record explains them.
#pragma once

#include <cstdint>
#include <string>

enum class ErrorKind : uint8_t {
  None,
  NotFound,     // a file or folder that is not there
  Access,       // there, but may not be opened, written, replaced or removed (now)
  InUse,        // another program holds it open (and did not let go within moments)
  NoSpace,      // the disk is full
  Io,           // any other failure the operating system reports
  Damaged,      // the content itself is not what it must be (a package, a patch)
  BadArgument,  // what the caller asked for cannot be done
  TooLong,      // a path longer than the game's paths may be
  Mismatch,     // the game's own file is not the one a change was made for
};

struct CError {
  ErrorKind kind = ErrorKind::None;
  std::string file;
  int osCode = 0;
  std::string reason;  // the operating system's words for osCode, where there is one
  std::string text;

  bool Failed() const { return kind != ErrorKind::None; }
  // A failure of the file system rather than of the content or of the request.
  bool IsOsFailure() const {
    return kind == ErrorKind::NotFound || kind == ErrorKind::Access || kind == ErrorKind::InUse ||
           kind == ErrorKind::NoSpace || kind == ErrorKind::Io;
  }
};

// The platform's last failure, of an operation (a verb: "write", "replace") on `file`.
CError OsFailure(const std::string& what, const std::string& file);
// A failure that is no operating system's: damaged content or a bad request.
CError Failure(ErrorKind kind, const std::string& file, const std::string& text);
