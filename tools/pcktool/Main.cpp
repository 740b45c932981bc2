// pcktool: the publisher's tool for game packages (BASE.idx, BASE.nam, BASE.dat).
// This file holds the command table, the help texts and the dispatch.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "io/Workers.h"
#include "tools/pcktool/Args.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Tool.h"

namespace {

constexpr const char* kPasswordHelp =
    "  --password TEXT  the package password (default: the game's; '' for none)\n";
constexpr const char* kThreadsHelp =
    "  --threads N      block workers beside the tool's own thread, 0 to 8 (default:\n"
    "                   one per core, none on a single core); the bytes never depend on it\n";

const CommandDef kCommands[] = {
    {"create", "DIR BASE", 2, kOptCodec | kOptBlockSize | kOptPassword | kOptThreads,
     "build a package from a folder tree",
     "Builds BASE.idx, BASE.nam and BASE.dat from everything under DIR. The children of\n"
     "every folder are stored in ascending byte order of their names, each file with its\n"
     "modification time, so the same folder always gives the same bytes. An existing\n"
     "package BASE is replaced only once the new one is complete.\n"
     "  --codec NAME     stored, zlib or lzo (default lzo)\n"
     "  --block-size N   bytes per block, 1 to 16777216 (default 65536)\n",
     RunCreate},
    {"list", "BASE", 1, 0, "list every entry with size, time stamp and MD5",
     "Prints one tab-separated line per entry in index order:\n"
     "  f  size  stamp-seconds  md5  path      for a file\n"
     "  d  child-count  -  -  path             for a folder\n"
     "Paths are joined with '/'; control bytes in names are shown as \\xNN.\n",
     RunList},
    {"cat", "BASE PATH", 2, kOptPassword | kOptThreads, "write one file's content to standard output",
     "Decodes the file at PATH and writes it to standard output. Fails (exit 1) when a\n"
     "block does not decode or the content does not match its stored MD5.\n",
     RunCat},
    {"extract", "BASE DIR", 2, kOptPassword | kOptThreads, "write the whole tree under a folder",
     "Writes every folder and file of the package under DIR (created when missing) and\n"
     "sets file times from the stored stamps. Every name is checked before anything is\n"
     "written, by the rules of the system the tool runs on. Refused everywhere: empty\n"
     "names, '.', '..', names holding '/', '\\' or a control byte. Refused on Windows\n"
     "too, where no file can have them: names of only dots and blanks, names holding\n"
     "':', '<', '>', '\"', '|', '?' or '*', and device names with or without an extension\n"
     "(CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9: con.txt, aux.tga); Linux takes\n"
     "those. A file that does not decode or does not match its MD5 stops the run and is\n"
     "not left behind.\n",
     RunExtract},
    {"verify", "BASE", 1, kOptPassword | kOptThreads, "decode every file and check its MD5",
     "Prints 'bad: PATH: PROBLEM' for each damaged file and exits 1 if there is any;\n"
     "otherwise prints 'ok: N files verified'.\n",
     RunVerify},
    {"info", "BASE", 1, 0, "show the header, counts and live and dead bytes",
     "Shows the header fields, the count of records, of files and of folders (the root\n"
     "not counted), and for the data and name files their size split into live bytes,\n"
     "which the index still reaches, and dead bytes, which only a compaction removes.\n",
     RunInfo},
    {"add", "BASE PATH FILE", 3, kOptCodec | kOptPassword | kOptThreads, "add a file (and missing folders)",
     "Stores FILE from the disk at PATH in the package, creating missing folders.\n"
     "  --codec NAME     stored, zlib or lzo (default lzo)\n",
     RunAdd},
    {"replace", "BASE PATH FILE", 3, kOptCodec | kOptPassword | kOptThreads, "give an existing file new content",
     "Stores FILE from the disk as the new content of the file at PATH.\n"
     "  --codec NAME     stored, zlib or lzo (default lzo)\n",
     RunReplace},
    {"delete", "BASE PATH", 2, 0, "remove a file, or a folder with everything in it",
     "Removes the entry at PATH; its bytes stay in the data file as dead bytes until\n"
     "the package is compacted.\n",
     RunDelete},
    {"mkdir", "BASE PATH", 2, 0, "create a folder (and missing parents)",
     "Creates the folder PATH and any missing folders above it.\n", RunMkdir},
    {"apply", "PATCH GAMEDIR", 2, kOptPassword | kOptNoCreate | kOptThreads,
     "release a patch package into a game folder",
     "Copies every file of the patch package PATCH to the same relative path below the\n"
     "game folder GAMEDIR, as the game's patcher does. A top-level patch folder named like\n"
     "one of the game's packages (bld, cj, RESOURCE, mb, sy, pm, mb_compete, LaunchSkin;\n"
     "compared without case) is written into GAMEDIR/NAME.idx/.nam/.dat, which is created\n"
     "when missing; everything else becomes plain files and folders. An empty file in a\n"
     "package folder removes that entry from the package. Every file of PATCH is decoded\n"
     "and checked against its MD5, and every target path worked out, before anything\n"
     "is written: a damaged patch, names that could reach outside GAMEDIR and paths over\n"
     "259 bytes leave the game as it was. A delta under ~delta/ is applied to the game's\n"
     "own file, which must be the content it was made against (the game is left as it\n"
     "was otherwise); a file that already has the new content is left alone. New\n"
     "entries are stored with lzo. Prints 'applied N files' when done. The password is\n"
     "that of PATCH and of the game's packages alike.\n"
     "  --no-create      do not create missing packages (their files then fail)\n",
     RunApply},
    {"compact", "BASE TARGET", 2, 0, "copy the live content into a new package",
     "Writes a copy of BASE without dead bytes as TARGET (which may be BASE itself).\n"
     "Nothing is deciphered, so no password is needed.\n",
     RunCompact},
    {"diff", "OLD NEW OUT", 3, kOptPassword | kOptUpdater | kOptThreads | kOptDelta | kOptFrom,
     "make the patch that turns one game folder into another",
     "Compares the game folders OLD and NEW and writes into OUT the patch that the updater\n"
     "needs to turn OLD into NEW: patch.idx, patch.nam, patch.dat and Delete.txt.\n"
     "Entries of the game's packages are compared by their stored size and MD5 (nothing\n"
     "is decoded for that); changed and new ones go into the patch under the package's\n"
     "folder, copied as they are stored, and entries and folders that NEW no longer has\n"
     "become empty files, which the release takes for deletions. A package that only NEW\n"
     "has comes as a folder of new entries; one that NEW no longer has, and plain files\n"
     "and folders that NEW no longer has, are listed in Delete.txt. Plain files are\n"
     "compared by content. The patch's CVer.txt is NEW's. What a patch cannot express (a\n"
     "path that changes from file to folder, a name that changes only in case, a new\n"
     "empty file or empty package folder, a plain folder named like a package, anything\n"
     "named ~delta at the top of either folder, which the deltas' folder reserves) stops\n"
     "the command, and so does anything the updater's own check of the patch against OLD\n"
     "refuses; nothing is written then. The same two folders always give the same bytes.\n"
     "  --updater IMAGE EXE  also make the self-extracting updater EXE from the updater\n"
     "                       program IMAGE and the four files\n"
     "A changed file that OLD has goes as a delta of its content against OLD's (zstd;\n"
     "for a file that keeps its size, the bytewise difference where that is smaller),\n"
     "under ~delta/, its path in the patch and the old content's MD5, where the delta\n"
     "costs at most 80% of the whole file and 1 KiB less; the updater checks that the\n"
     "player's file is that old content before it changes anything.\n"
     "  --no-delta       carry every changed file whole\n"
     "  --from OLDER     also bring the game folder OLDER (another version) to NEW; may\n"
     "                   be given again. A changed file then carries a delta for each\n"
     "                   old content, and goes whole where one of the games lacks it;\n"
     "                   the updater picks the delta by the player's file and refuses\n"
     "                   a game whose file is none of them. Set NEW's CVer.txt ValidVer\n"
     "                   to the oldest of these versions\n"
     "  --delta-level N  zstd's level, 1 to 22 (default 19; from 16 on the search reaches\n"
     "                   across an old file of up to 32 MiB, a larger one is done as\n"
     "                   at 15: about 25 s per 100 MiB changed; 9 takes a second or\n"
     "                   two for deltas about 6% larger)\n",
     RunDiff},
    {"payload", "build|list|extract ARGS...", -2, 0, "build, list or release an updater's payload",
     "Works on the files that the updater carries appended to its own executable.\n"
     "  build IMAGE OUT FILE...  copies IMAGE to OUT and appends every FILE under its bare\n"
     "                           file name (at most 99 bytes, no two alike without case),\n"
     "                           then the directory and its CRC-32; OUT may be IMAGE\n"
     "  list EXE                 prints 'name  distance  size' (tab-separated) per file\n"
     "  extract EXE DIR          writes every carried file into DIR (created when missing)\n"
     "                           as the updater does; a name that is not a bare file name\n"
     "                           stops it before anything is written\n",
     RunPayload},
};

void PrintOverview(FILE* out) {
  fputs("usage: pcktool COMMAND [ARGS...] [OPTIONS]\n\ncommands:\n", out);
  for (const CommandDef& c : kCommands) fprintf(out, "  %-9s %s\n", c.name, c.summary);
  fprintf(out, "  %-9s %s\n", "version", "print the tool's version (also --version)");
  fputs("\nRun 'pcktool COMMAND --help' for a command's arguments and options.\n"
        "Exit status: 0 success, 1 failure, 2 bad usage.\n",
        out);
}

void PrintCommandHelp(const CommandDef& c) {
  printf("%s\n\n%s", UsageLine(c).c_str(), c.details);
  if (c.options & kOptPassword) fputs(kPasswordHelp, stdout);
  if (c.options & kOptThreads) fputs(kThreadsHelp, stdout);
}

const CommandDef* FindCommand(const char* name) {
  for (const CommandDef& c : kCommands)
    if (std::strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    if (argc >= 3 && first == "help") {
      if (const CommandDef* c = FindCommand(argv[2])) {
        PrintCommandHelp(*c);
        return kExitOk;
      }
    }
    PrintOverview(stdout);
    return kExitOk;
  }
  if (first == "--version" || first == "version") {
    if (argc > 2) {
      fprintf(stderr, "pcktool: %s takes no arguments\n", first.c_str());
      return kExitUsage;
    }
    // QV_VERSION_TEXT is the project's version, passed in by the build.
    printf("pcktool %s\n", QV_VERSION_TEXT);
    return kExitOk;
  }
  const CommandDef* def = FindCommand(argv[1]);
  if (!def) {
    fprintf(stderr, "pcktool: unknown command \"%s\"\nRun 'pcktool --help' for the list.\n",
            Shown(first).c_str());
    return kExitUsage;
  }
  Options opt;
  std::string error;
  if (!ParseArgs(*def, argc, argv, 2, opt, error)) {
    fprintf(stderr, "pcktool: %s: %s\n%s\n", def->name, Shown(error).c_str(), UsageLine(*def).c_str());
    return kExitUsage;
  }
  if (opt.help) {
    PrintCommandHelp(*def);
    return kExitOk;
  }
  if (opt.threads >= 0) CWorkers::SetThreads(size_t(opt.threads));
  int rc = def->run(opt);
  // Output lost to a full disk or a closed pipe is a failure too.
  if ((fflush(stdout) != 0 || ferror(stdout)) && rc == kExitOk) return Fail("standard output", "write failed");
  return rc;
}

}  // namespace

int PcktoolMain(int argc, char** argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("", "out of memory");
  } catch (const std::exception& e) {
    return Fail("", e.what());
  }
}
