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

namespace {

struct Search {
    reader::ReaderSearchResult result;
    int currentPort = 0;
    int lastProbed = 0;
    std::function<void(const reader::ReaderSearchResult &)> ended;
};

// Probes the ports after the last one probed, one enquiry at a time, and
// ends the search after the last port or the second device found.
void probeNext(const std::shared_ptr<Search> &search)
{
    const bool probing = app::tagged(app::Procedure::SearchReader, [&] {
        if (search->result.found.size() < 2) {
            while (search->lastProbed < kMaxPortNumber) {
                const int port = ++search->lastProbed;
                if (!reader::portExists(port))
                    continue;
                reader::openPort(port);
                reader::sendEnq();
                return true;
            }
        }
        return false;
    });
    if (!probing) {
        search->result.proposed = search->result.found.isEmpty() ? search->currentPort : search->result.found.first();
        search->ended(search->result);
        return;
    }
    reader::link().runSequence(
        app::Procedure::SearchReader, 100,
        [search](const QByteArray &buffer) -> std::optional<int> {
            if (frame::ubound(buffer) >= 9) {
                const QString answer = answerOf(buffer);
                if (answer == QLatin1String("CS") || answer == QLatin1String("AC") || answer == QLatin1String("PRINT"))
                    search->result.found << search->lastProbed;
            }
            return std::nullopt;
        },
        [search] { probeNext(search); });
}

} // namespace

void reader::searchReader(int currentPort, std::function<void(const ReaderSearchResult &)> ended)
{
    auto search = std::make_shared<Search>();
    search->currentPort = currentPort;
    search->ended = std::move(ended);
    reader::link().whenFree([search] { probeNext(search); });
}
