// Delete.txt: the deletion of what a patch makes obsolete. The lines are read by the
// same reader as the check of the whole patch uses (patch/ObsoleteList.h).
#include <set>
#include <string>

#include "app/UpdateDlg.h"
#include "patch/ObsoleteList.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

int DeleteObsoleteFiles(plat::IMessageUi&, const std::function<void(const std::string&)>& log) {
  int refused = 0;
  for (const ObsoleteLine& line : ReadObsoleteList("Delete.txt")) {
    if (line.refusal) {
      ++refused;
      if (log) log("拒绝删除 " + line.text + ": " + line.refusal);
      continue;
    }
    // The folder the entries were removed from is synced by the deletion itself, so
    // nothing deleted here comes back after a power cut once the version has committed.
    plat::ShellDelete(line.path);
  }
  if (plat::DeleteFile("Delete.txt")) plat::SyncFolder("");
  return refused;
}
