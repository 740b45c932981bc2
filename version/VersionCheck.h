// The version check before a patch is released: compares the game's CVer.txt with the
// one inside the patch package and asks the player where they disagree.
#pragma once

#include <string>

#include "platform/Platform.h"

class IWalkSink;

// 0: go on with the update (the versions fit, or the player chose to force it);
// -1: stop. `packageBase` is the patch package without extension, `gameFolder` the
// folder that holds the installed CVer.txt (no trailing separator). Notes go to `sink`
// (may be null) as error events (code -1) or file events; questions go to `ui`.
// Changes no file.
int CheckVersion(const std::string& packageBase, const std::string& gameFolder, const char* password,
                 IWalkSink* sink, plat::IMessageUi& ui);
