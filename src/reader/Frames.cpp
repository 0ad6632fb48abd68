// The reader's frames: checksum, ENQ and ACK frames, text frames with the
// sequence toggle, and the relay envelope.

#include "reader/CardReader.h"

#include "app/Failure.h"
#include "app/Constants.h"
#include "decode/FrameBytes.h"
#include "reader/FrameRecognizer.h"

namespace {
Failure overflow() { return Failure(6, QStringLiteral("オーバーフローしました。")); }
} // namespace

int reader::checksum(const QByteArray &bytes)
{
    return app::tagged(app::Procedure::FrameChecksum, [&] {
        quint32 sum = 0;
        for (int i = 2; i <= frame::ubound(bytes) - 1; ++i)
            sum += frame::at(bytes, i);
        return int(sum % 256);
    });
}

bool reader::frameIntact(const QByteArray &buffer)
{
    const int n = frame::ubound(buffer);
    return n >= 3 && frame::at(buffer, n - 1) == ctl::ETX && frame::at(buffer, n) == reader::checksum(buffer);
}

static QByteArray controlFrame(quint8 code)
{
    QByteArray f = frame::of({code, 0x30, 0x31, ctl::ETX, 0});
    f[5] = char(reader::checksum(f));
    return f;
}

void reader::sendEnq()
{
    app::tagged(app::Procedure::SendEnq, [] { reader::sendBytes(controlFrame(ctl::ENQ)); });
}

void reader::sendAck()
{
    app::tagged(app::Procedure::SendAck, [] { reader::sendBytes(controlFrame(ctl::ACK)); });
}

QByteArray reader::buildTextFrame(const QByteArray &command, const QByteArray &data, int kind, int retry)
{
    const int length = frame::ubound(command) + frame::ubound(data);
    if (length > 255)
        throw overflow();
    if (retry == 0)
        reader::link().sendToggle = reader::link().sendToggle == 128 ? 0 : 128;
    QByteArray f = frame::of({ctl::STX, 0x30, 0x31, kind * 128 + retry, reader::link().sendToggle, 0x00, length});
    for (int i = 1; i <= frame::ubound(command); ++i)
        f.append(char(frame::at(command, i)));
    for (int i = 1; i <= frame::ubound(data); ++i)
        f.append(char(frame::at(data, i)));
    f.append(char(ctl::ETX));
    f.append('\0');
    f[length + 9] = char(reader::checksum(f));
    return f;
}

void reader::sendTextFrame(const QByteArray &command, const QByteArray &data, int kind, int retry)
{
    app::tagged(app::Procedure::TextFrame,
            [&] { reader::sendBytes(reader::buildTextFrame(command, data, kind, retry)); });
}

void reader::sendEtAnswer(int retry)
{
    app::tagged(app::Procedure::SendEt, [&] {
        reader::sendTextFrame(frame::of({'E', 'T'}), frame::of({'N', 'M', 0x01, 0x32}), 1, retry);
    });
}

void reader::requestRecords(const QString &letter, int retry)
{
    app::tagged(app::Procedure::SendLr, [&] {
        if (letter.isEmpty())
            throw Failure(5, QStringLiteral("プロシージャの呼び出し、または引数が不正です。"));
        const int code = letter.at(0).unicode() < 0x100 ? letter.at(0).unicode() : '?';
        reader::sendTextFrame(frame::of({'L', 'R'}), frame::of({code}), 0, retry);
    });
}

QByteArray reader::relayEnvelope(const QByteArray &target, const QByteArray &payload)
{
    const int n = frame::ubound(payload);
    if (n > 255)
        throw overflow();
    QByteArray f = frame::of({ctl::STX});
    f.append(target.left(5).leftJustified(5, ' '));
    f.append('\0');
    f.append(char(n));
    f.append(frame::raw(payload));
    f.append(char(ctl::ETX));
    f.append('\0');
    f[n + 10] = char(reader::checksum(f));
    return f;
}
