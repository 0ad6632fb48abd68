#include "Reader.h"

#include <cstdio>
#include <iconv.h>

namespace emu {
namespace {
constexpr std::uint8_t STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, NAK = 0x15;

std::uint8_t checksum(const Bytes &f, std::size_t from, std::size_t to) // 0-based, inclusive
{
    unsigned sum = 0;
    for (std::size_t i = from; i <= to && i < f.size(); ++i)
        sum += f[i];
    return std::uint8_t(sum & 0xFF);
}

std::string fromCp932(const Bytes &bytes)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == iconv_t(-1))
        return std::string(bytes.begin(), bytes.end());
    std::string in(bytes.begin(), bytes.end());
    std::string out(in.size() * 4 + 4, '\0');
    char *ip = in.data(), *op = out.data();
    size_t il = in.size(), ol = out.size();
    while (il > 0 && iconv(cd, &ip, &il, &op, &ol) == size_t(-1)) {
        // an undecodable byte is shown as "?"
        if (ol == 0)
            break;
        *op++ = '?';
        --ol;
        ++ip;
        --il;
    }
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}
} // namespace

std::string hex(const Bytes &bytes)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", unsigned(bytes[i]));
        s += buf;
    }
    return s;
}

bool parseHex(const std::string &text, Bytes &bytes)
{
    bytes.clear();
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            digits += c;
    if (digits.size() % 2)
        return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned v = 0;
        if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[i + 1])) ||
            std::sscanf(digits.substr(i, 2).c_str(), "%2x", &v) != 1)
            return false;
        bytes.push_back(std::uint8_t(v));
    }
    return true;
}

Bytes Reader::withChecksum(Bytes frame)
{
    frame.push_back(checksum(frame, 1, frame.size() - 1));
    return frame;
}

Bytes Reader::textFrame(const std::string &command, const Bytes &data)
{
    Bytes f{STX, '1', '0', 0x00, 0x00, 0x00, std::uint8_t(command.size() + data.size())};
    f.insert(f.end(), command.begin(), command.end());
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(ETX);
    return withChecksum(f);
}

void Reader::setCard(CardImage card)
{
    m_card = std::move(card);
    m_cursor = 0;
    m_crossed = false;
}

Bytes Reader::cardStateFrame()
{
    const char letter = state == CardState::Readable         ? 'I'
                        : state == CardState::Authenticating ? 'P'
                        : state == CardState::Error          ? 'E'
                                                             : 'O';
    return textFrame("CS", {std::uint8_t(letter), 0x00, 0x00, 0x00, 0x00});
}

Bytes Reader::recordFrame(char answer, const RecordBytes *record)
{
    Bytes data{std::uint8_t(answer)};
    if (record)
        data.insert(data.end(), record->begin(), record->end());
    else
        data.resize(23, 0);
    return textFrame("LD", data);
}

std::vector<Bytes> Reader::receive(const Bytes &bytes)
{
    std::vector<Bytes> answers;
    m_in.insert(m_in.end(), bytes.begin(), bytes.end());
    while (!m_in.empty()) {
        std::size_t total = 0;
        const std::uint8_t first = m_in[0];
        if (first == ENQ || first == ACK) {
            total = 5;
        } else if (first == STX) {
            if (m_in.size() < 8)
                break;
            if (m_in[1] == 'C')
                total = std::size_t(m_in[7]) + 10; // relay envelope
            else
                total = std::size_t(m_in[5]) + m_in[6] + 9; // text frame
        } else {
            if (log)
                log("junk " + hex(Bytes{first}));
            m_in.erase(m_in.begin());
            continue;
        }
        if (m_in.size() < total)
            break;
        Bytes request(m_in.begin(), m_in.begin() + std::ptrdiff_t(total));
        m_in.erase(m_in.begin(), m_in.begin() + std::ptrdiff_t(total));
        if (request[total - 2] != ETX || checksum(request, 1, total - 2) != request[total - 1]) {
            if (log)
                log("bad " + hex(request));
            continue;
        }
        if (log)
            log("rx " + hex(request));
        if (auto answer = answerRequest(request); answer && !answer->empty()) {
            if (fault == Fault::Garbage) {
                std::uniform_int_distribution<int> length(1, 24), value(0, 255);
                answer->assign(std::size_t(length(m_random)), 0);
                for (auto &b : *answer)
                    b = std::uint8_t(value(m_random));
            } else if (fault == Fault::Checksum) {
                answer->back() = std::uint8_t(answer->back() + 1);
            }
            answers.push_back(std::move(*answer));
        }
    }
    return answers;
}

void Reader::dropPartial()
{
    if (!m_in.empty() && log)
        log("bad " + hex(m_in));
    m_in.clear();
}

std::optional<Bytes> Reader::answerRequest(const Bytes &request)
{
    if (fault == Fault::Silence)
        return std::nullopt;
    const bool envelope = request[0] == STX && request[1] == 'C';
    if (envelope) {
        if (!relay)
            return std::nullopt; // a bare reader does not understand envelopes
        const std::string target(request.begin() + 1, request.begin() + 6);
        const Bytes payload(request.begin() + 8, request.end() - 2);
        if (target == "COM1:")
            return readerAnswer(payload);
        if (target == "COM2:")
            return printerAnswer(payload);
        return std::nullopt;
    }
    if (relay) {
        // The relay unit answers a direct enquiry with its announcement.
        if (request[0] != ENQ)
            return std::nullopt;
        return withChecksum(Bytes{STX, '1', '0', 0x00, 0x05, 'P', 'R', 'I', 'N', 'T', ETX});
    }
    return readerAnswer(request);
}

std::optional<Bytes> Reader::readerAnswer(const Bytes &request)
{
    if (!script.empty()) {
        auto answer = script.front();
        script.pop_front();
        return answer;
    }
    if (scriptOnly || request.empty())
        return std::nullopt;
    if (request[0] == ENQ)
        return m_session ? cardStateFrame() : textFrame("AC", {});
    if (request[0] == ACK || request[0] != STX || request.size() < 11)
        return std::nullopt;
    const std::string command(request.begin() + 7, request.begin() + 9);
    if (command == "ET") {
        m_session = true;
        return cardStateFrame();
    }
    if (command != "LR")
        return std::nullopt;
    if (state != CardState::Readable)
        return cardStateFrame();

    // The card's records newest first; "O" starts again at the newest, "B"
    // goes one older and stops with "N" at the ring's physical end, where
    // "F" carries on past it; past the oldest record the answer is "O".
    const char letter = char(request[9]);
    const auto &records = m_card.records;
    std::size_t next = 0;
    if (letter == 'O') {
        m_crossed = false;
    } else {
        next = m_cursor + 1;
        if (next < records.size() && !m_crossed && m_card.wrap > 0 && next == m_card.wrap) {
            if (letter != 'F')
                return recordFrame('N', nullptr);
            m_crossed = true;
        }
    }
    if (next >= records.size())
        return recordFrame('O', nullptr);
    m_cursor = next;
    return recordFrame('Y', &records[next]);
}

std::optional<Bytes> Reader::printerAnswer(const Bytes &payload)
{
    if (log)
        log("print " + fromCp932(payload));
    switch (printer) {
    case Printer::Ack:
        return withChecksum(Bytes{ACK, '1', '2', ETX});
    case Printer::PaperOut:
        if (paperLeft > 0) {
            --paperLeft;
            return withChecksum(Bytes{ACK, '1', '2', ETX});
        }
        return withChecksum(Bytes{NAK, '1', '2', 0x01, ETX});
    case Printer::Silent:
        break;
    }
    return std::nullopt;
}

} // namespace emu
