// The payload command: appends files to a copy of the updater's executable, lists what
// an executable carries, and releases it as the updater does (a signed one too: the
// extractor finds the payload before the certificate table).
#include <cstdio>
#include <string>
#include <vector>

#include "payload/PayloadExtractor.h"
#include "payload/PayloadFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Tool.h"

namespace {

constexpr const char* kPayloadUsage =
    "usage: pcktool payload build IMAGE OUT FILE...\n"
    "       pcktool payload list EXE\n"
    "       pcktool payload extract EXE DIR";

int Usage(const std::string& problem) {
  fprintf(stderr, "pcktool: payload: %s\n%s\n", ShowName(problem).c_str(), kPayloadUsage);
  return kExitUsage;
}

std::string BareName(const std::string& path) {
  const size_t sep = plat::LastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The extractor moves the working directory, so a relative path has to be pinned first.
std::string Absolute(const std::string& path) {
  const bool absolute = (!path.empty() && plat::IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
  return absolute ? path : plat::GetWorkDir() + "/" + path;
}

// "PROBLEM (code N)", naming the output the release stopped at when there is one.
std::string Explain(int32_t code, const CPayloadExtractor& ex) {
  std::string text = std::string(PayloadResultText(code)) + " (code " + std::to_string(code) + ")";
  if (!ex.FailedName().empty()) text += ": " + ex.FailedName();
  return text;
}

int Build(const std::vector<std::string>& args) {
  const std::string& image = args[0];
  const std::string& out = args[1];
  CPayloadBuilder builder;
  std::string why;
  for (size_t i = 2; i < args.size(); ++i)
    if (!builder.Add(BareName(args[i]), args[i], why)) return Fail(args[i], why);
  bool signatureRemoved = false;
  if (!builder.Write(image, out, why, &signatureRemoved)) return Fail(out, why);
  if (signatureRemoved) NoteSignatureRemoved("payload", image, out);
  printf("built %s carrying %zu files\n", Shown(out).c_str(), builder.Count());
  return kExitOk;
}

int List(const std::string& exe) {
  // Reading the directory writes nothing, so the working directory may stay.
  CPayloadExtractor ex(plat::GetWorkDir());
  const int32_t r = ex.ReadDirectory(exe);
  if (r < 1) return Fail(exe, Explain(r, ex));
  for (const PayloadEntry& e : ex.Entries())
    printf("%s\t%u\t%u\n", Shown(e.Name()).c_str(), unsigned(e.distance), unsigned(e.size));
  return kExitOk;
}

int Extract(const std::string& exe, const std::string& dir) {
  const std::string source = Absolute(exe);
  if (!plat::MakeFolders(dir)) return Fail(dir, "cannot create the folder");
  CPayloadExtractor ex(dir);
  if (!ex.InFolder()) return Fail(dir, "cannot enter the folder");
  ex.SetOutputPrefix("");
  const int32_t r = ex.Release(source);
  if (r < 1) return Fail(exe, Explain(r, ex));
  printf("released %zu files\n", ex.Entries().size());
  return kExitOk;
}

}  // namespace

int RunPayload(const Options& opt) {
  const std::string& sub = opt.operands[0];
  const std::vector<std::string> args(opt.operands.begin() + 1, opt.operands.end());
  if (sub == "build") {
    if (args.size() < 3) return Usage("build expects IMAGE OUT FILE...");
    return Build(args);
  }
  if (sub == "list") {
    if (args.size() != 1) return Usage("list expects EXE");
    return List(args[0]);
  }
  if (sub == "extract") {
    if (args.size() != 2) return Usage("extract expects EXE DIR");
    return Extract(args[0], args[1]);
  }
  return Usage("unknown sub-command \"" + sub + "\" (build, list or extract)");
}
