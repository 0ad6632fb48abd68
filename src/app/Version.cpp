#include "app/Version.h"

QString app::programVersion() { return QStringLiteral(PASSLOG_VERSION); }
