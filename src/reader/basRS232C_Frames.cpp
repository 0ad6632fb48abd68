// The reader's frames: checksum, ENQ and ACK frames, text frames with the
// sequence toggle, and the relay envelope.

#include "reader/basRS232C.h"

#include "app/Failure.h"
#include "app/basGlobal.h"
#include "decode/FrameBytes.h"
#include "reader/FrameRecognizer.h"

namespace {
Failure overflow() { return Failure(6, QStringLiteral("オーバーフローしました。")); }
} // namespace

int basRS232C_CalCheckSUM(const QByteArray &bytes)
{
    return guarded("basRS232C_CalCheckSUM", [&] {
        quint32 sum = 0;
        for (int i = 2; i <= frame::ubound(bytes) - 1; ++i)
            sum += frame::at(bytes, i);
        return int(sum % 256);
    });
}

bool basRS232C_FrameIntact(const QByteArray &buffer)
{
    const int n = frame::ubound(buffer);
    return n >= 3 && frame::at(buffer, n - 1) == ctl::ETX && frame::at(buffer, n) == basRS232C_CalCheckSUM(buffer);
}

static QByteArray controlFrame(quint8 code)
{
    QByteArray f = frame::of({code, 0x30, 0x31, ctl::ETX, 0});
    f[5] = char(basRS232C_CalCheckSUM(f));
    return f;
}

void basRS232C_SendENQ()
{
    guarded("basRS232C_SendENQ", [] { basRS232C_CommOutput(controlFrame(ctl::ENQ)); });
}

void basRS232C_SendACK()
{
    guarded("basRS232C_SendACK", [] { basRS232C_CommOutput(controlFrame(ctl::ACK)); });
}

QByteArray basRS232C_BuildTxtFrame(const QByteArray &command, const QByteArray &data, int kind, int retry)
{
    const int length = frame::ubound(command) + frame::ubound(data);
    if (length > 255)
        throw overflow();
    if (retry == 0)
        intSendToggle = intSendToggle == 128 ? 0 : 128;
    QByteArray f = frame::of({ctl::STX, 0x30, 0x31, kind * 128 + retry, intSendToggle, 0x00, length});
    for (int i = 1; i <= frame::ubound(command); ++i)
        f.append(char(frame::at(command, i)));
    for (int i = 1; i <= frame::ubound(data); ++i)
        f.append(char(frame::at(data, i)));
    f.append(char(ctl::ETX));
    f.append('\0');
    f[length + 9] = char(basRS232C_CalCheckSUM(f));
    return f;
}

void basRS232C_CreateTxtFrame(const QByteArray &command, const QByteArray &data, int kind, int retry)
{
    guarded("basRS232C_CreateTxtFrame",
            [&] { basRS232C_CommOutput(basRS232C_BuildTxtFrame(command, data, kind, retry)); });
}

void basRS232C_SendET(int retry)
{
    guarded("basRS232C_SendET", [&] {
        basRS232C_CreateTxtFrame(frame::of({'E', 'T'}), frame::of({'N', 'M', 0x01, 0x32}), 1, retry);
    });
}

void basRS232C_SendLR(const QString &letter, int retry)
{
    guarded("basRS232C_SendLR", [&] {
        if (letter.isEmpty())
            throw Failure(5, QStringLiteral("プロシージャの呼び出し、または引数が不正です。"));
        const int code = letter.at(0).unicode() < 0x100 ? letter.at(0).unicode() : '?';
        basRS232C_CreateTxtFrame(frame::of({'L', 'R'}), frame::of({code}), 0, retry);
    });
}

QByteArray basRS232C_RelayEnvelope(const QByteArray &target, const QByteArray &payload)
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
    f[n + 10] = char(basRS232C_CalCheckSUM(f));
    return f;
}
