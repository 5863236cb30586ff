#include "app/cli/cli.h"
int cmdProbe(const CliOptions &, const QStringList &) { err() << "probe: not built yet\n"; return kExitFailed; }
