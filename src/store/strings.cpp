#include "store/strings.h"
QString ms(const QString &german) { return german; }
QString ms(const char *germanUtf8) { return QString::fromUtf8(germanUtf8); }
