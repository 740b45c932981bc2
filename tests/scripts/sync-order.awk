# Reads `strace -f -y` output of one update run and checks that the run never commits
# its version before every change it made is on the disk:
#  - before the rename of CVer.txt's temporary onto CVer.txt, every create (open with
#    O_CREAT), rename, mkdir, unlink and rmdir in a folder of the game has been followed
#    by an fsync of that folder, and every file written has been followed by an fsync of
#    the file (a temporary before its rename);
#  - after the run, the removal of patch.* is followed by an fsync of the game folder.
# A change inside a folder that is removed later needs no sync of its own: the removal
# of the folder covers it. Prints one line per missing sync, naming the syscall and the
# path, and a summary; exits 1 when anything is missing or the commit was not seen.
#   awk -v game=/abs/game -f sync-order.awk TRACE
# (POSIX awk: mawk is Debian's default.)

function rel(p) { return index(p, game "/") == 1 ? substr(p, length(game) + 2) : (p == game ? "." : p) }
function inside(p) { return p == game || index(p, game "/") == 1 }
function dirof(p) { sub(/\/[^\/]*$/, "", p); return p == "" ? "/" : p }

# The path strace's -y prints after a descriptor: `5</a/b>` or `AT_FDCWD</a>`.
function annot(tok, p) {
  if (!match(tok, /<.*>/)) return ""
  p = substr(tok, RSTART + 1, RLENGTH - 2)
  sub(/ \(deleted\)$/, "", p)
  return p
}
function unquote(s) {
  sub(/^"/, "", s); sub(/"$/, "", s)
  gsub(/\\"/, "\"", s)
  return s
}
function normal(p) {
  gsub(/\/\.\//, "/", p); gsub(/\/+/, "/", p); sub(/\/\.$/, "", p)
  if (p != "/") sub(/\/$/, "", p)
  return p
}
# A name taken relative to a descriptor (or to the working folder).
function resolve(dirtok, name, base) {
  name = unquote(name)
  if (substr(name, 1, 1) == "/") return normal(name)
  base = annot(dirtok)
  if (base == "") base = cwd
  return normal(base "/" name)
}

# A change to folder `dir` that waits for an fsync of it.
function dirop(dir, what) {
  if (!inside(dir)) return
  if (!(dir in pending)) pending[dir] = what
  else if (pending[dir] !~ /; \.\.\.$/ && length(pending[dir]) < 400) pending[dir] = pending[dir] "; " what
}
# Data written to a file that waits for an fsync of it.
function wrote(path, how) {
  if (!inside(path) || (path in dirty)) return
  dirty[path] = how " at trace line " NR
}
# A folder that is gone takes the changes inside it along.
function forget(dir, k) {
  delete pending[dir]
  for (k in pending) if (index(k, dir "/") == 1) delete pending[k]
  for (k in dirty) if (index(k, dir "/") == 1) delete dirty[k]
  for (k in created) if (index(k, dir "/") == 1) delete created[k]
}
function missing(text) { print "MISSING: " text; ++faults }

BEGIN { cwd = game; faults = 0; committed = 0 }

{
  line = $0
  sub(/^(\[pid +)?[0-9]+\]? +/, "", line)
  # A call split by another thread's: joined back into one line.
  pid = $1
  if (line ~ /<unfinished \.\.\.>$/) { sub(/ *<unfinished \.\.\.>$/, "", line); split_[pid] = line; next }
  if (match(line, /^<\.\.\. [a-z0-9_]+ resumed>/)) { line = split_[pid] substr(line, RLENGTH + 1); delete split_[pid] }
  if (!match(line, /^[a-z0-9_]+\(/)) next
  call = substr(line, 1, RLENGTH - 1)
  if (!match(line, /\) += /)) next
  args = substr(line, length(call) + 2, RSTART - length(call) - 2)
  ret = substr(line, RSTART + RLENGTH)
  # Failed calls changed nothing; "?" is a call the process did not live through.
  if (ret !~ /^[0-9]/) next
  split(args, a, /, /)
}

call == "chdir" { cwd = normal(resolve("", a[1])); next }

call == "openat" || call == "open" || call == "creat" {
  flags = call == "openat" ? a[3] : a[2]
  path = annot(ret)
  if (path == "") path = call == "openat" ? resolve(a[1], a[2]) : resolve("", a[1])
  if ((call == "creat" || flags ~ /O_CREAT/) && inside(path)) { created[path] = call " O_CREAT " rel(path) " (trace line " NR ")"; ++seen["create"] }
  if (call == "creat" || flags ~ /O_TRUNC/) wrote(path, call " O_TRUNC")
  next
}

call ~ /^(write|pwrite64|writev|pwritev|pwritev2|ftruncate|fallocate)$/ { wrote(annot(a[1]), call); next }

call == "fsync" || call == "fdatasync" {
  path = annot(a[1])
  delete dirty[path]
  if (path in pending) delete pending[path]
  for (k in created) if (dirof(k) == path) delete created[k]
  if (path == game && patchGone) patchSynced = 1
  next
}

call == "rename" || call == "renameat" || call == "renameat2" {
  from = call == "rename" ? resolve("", a[1]) : resolve(a[1], a[2])
  to = call == "rename" ? resolve("", a[2]) : resolve(a[3], a[4])
  if (!inside(from) && !inside(to)) next
  ++seen["rename"]
  if (from in dirty) {
    missing("fsync of " rel(from) " before " call " onto " rel(to) " (" dirty[from] ", renamed at trace line " NR ")")
    delete dirty[from]
  }
  # The new name is the created file's: one sync of the folder after the rename does.
  delete created[from]
  if (to == game "/CVer.txt" && !committed) {
    committed = NR
    # The commit: everything the run changed so far must be on the disk already.
    for (d in pending) missing("fsync of folder " rel(d) " after " pending[d] ", before the commit at trace line " NR)
    for (f in created) missing("fsync of folder " rel(dirof(f)) " after " created[f] ", before the commit at trace line " NR)
    for (f in dirty) missing("fsync of " rel(f) " after " dirty[f] ", before the commit at trace line " NR)
    for (f in created) delete created[f]
    for (d in pending) delete pending[d]
    for (f in dirty) delete dirty[f]
  }
  what = call " " rel(from) " -> " rel(to) " (trace line " NR ")"
  dirop(dirof(to), what)
  if (dirof(from) != dirof(to)) dirop(dirof(from), what)
  next
}

call == "mkdir" || call == "mkdirat" {
  path = call == "mkdir" ? resolve("", a[1]) : resolve(a[1], a[2])
  dirop(dirof(path), call " " rel(path) " (trace line " NR ")"); ++seen["mkdir"]
  next
}

call == "unlink" || call == "unlinkat" || call == "rmdir" {
  path = call == "unlinkat" ? resolve(a[1], a[2]) : resolve("", a[1])
  folder = call == "rmdir" || (call == "unlinkat" && a[3] ~ /AT_REMOVEDIR/)
  dirop(dirof(path), call " " rel(path) " (trace line " NR ")")
  ++seen[folder ? "rmdir" : "unlink"]
  delete dirty[path]
  delete created[path]
  if (folder) forget(path)
  if (committed && dirof(path) == game && path ~ /\/patch\.(idx|nam|dat)$/) { patchGone = NR; patchSynced = 0 }
  next
}

END {
  if (!committed) missing("the rename of CVer.txt's temporary onto CVer.txt: the run never committed")
  if (!patchGone) missing("the removal of patch.idx, patch.nam and patch.dat after the commit")
  else if (!patchSynced) missing("fsync of folder . after unlink of the patch (trace line " patchGone ")")
  printf "checked: %d creates, %d renames, %d mkdirs, %d unlinks, %d rmdirs; commit at trace line %d\n",
         seen["create"], seen["rename"], seen["mkdir"], seen["unlink"], seen["rmdir"], committed
  exit (faults > 0 ? 1 : 0)
}
