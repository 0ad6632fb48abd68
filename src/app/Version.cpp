#include "app/Version.h"

QString programVersion() { return QStringLiteral(PASSLOG_VERSION); }
