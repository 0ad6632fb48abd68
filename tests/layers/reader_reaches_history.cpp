// Must not compile: the reader and the history are side by side; neither
// sees the other. The layering test builds this file and expects a failure.
#include "history/Database.h"

int readerReachesHistory() { return int(kDatFile.size()); }
