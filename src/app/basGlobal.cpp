#include "app/basGlobal.h"

QString AppPath;
QString CSVPath;
QString ViewSort = QStringLiteral("NEW");
QString ComPort = QStringLiteral("1");

int intRelayMode = 0;
int intNoReplyCount = 0;
int intSendToggle = 128;
bool blnReadError = false;
