#include "app/cli/cli.h"
int cmdInit(const CliOptions &, const QStringList &) { err() << "init: not built yet\n"; return kExitFailed; }
