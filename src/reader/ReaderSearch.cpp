#include "reader/ReaderSearch.h"

#include "app/Failure.h"
#include "decode/FrameBytes.h"
#include "reader/PortDevice.h"
#include "reader/CardReader.h"

namespace {

// The command of an answer: the five characters of a short text frame
// (exactly 12 bytes, the relay unit's "PRINT") or the two of a text frame.
QString answerOf(const QByteArray &buffer)
{
    const int n = frame::ubound(buffer);
    QString text;
    const int from = n == 12 ? 6 : 8;
    const int to = n == 12 ? 10 : 9;
    for (int i = from; i <= to; ++i)
        text += frame::charAt(buffer, i);
    return text;
}

} // namespace

reader::ReaderSearchResult reader::searchReader(int currentPort)
{
    return guarded(app::Procedure::SearchReader, [&] {
        reader::ReaderSearchResult result;
        for (int port = 1; port <= kMaxPortNumber; ++port) {
            if (!reader::portExists(port))
                continue;
            reader::openPort(port);
            reader::sendEnq();
            QByteArray buffer;
            reader::receiveFrame(100, buffer);
            if (frame::ubound(buffer) < 9)
                continue;
            const QString answer = answerOf(buffer);
            if (answer == QLatin1String("CS") || answer == QLatin1String("AC") || answer == QLatin1String("PRINT")) {
                result.found << port;
                if (result.found.size() == 2)
                    break;
            }
        }
        result.proposed = result.found.isEmpty() ? currentPort : result.found.first();
        return result;
    });
}
