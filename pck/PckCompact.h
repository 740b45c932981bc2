// Copies a package's live content into a new set of three files: every record in order,
// every name and entry a record references, nothing else. Nothing is deciphered or
// decoded, so no password is needed.
#pragma once

#include <string>

#include "io/Error.h"

class IWalkSink;

// Returns 0 when the whole index was copied and the target's files are on the disk,
// -1 on any failure (the source is never changed; the target is then unusable).
// `error`, when given, receives what went wrong: ErrorKind::Damaged when the source is
// no whole package (its index, names or entries cannot be read as one), an operating
// system's kind when a file could not be opened, created or written.
int CompactPackage(const std::string& source, const std::string& target, IWalkSink* sink,
                   CError* error = nullptr);
