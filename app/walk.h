// Folder mode: the files of Src paired with their destinations under Dst.
#pragma once

#include <string>

#include "app/run_context.h"

namespace tagloom {

/// Pairs every file under `folder` whose kind the run reads with its destination under Dst.
void walkFolder(RunContext& run, std::string folder);

}  // namespace tagloom
