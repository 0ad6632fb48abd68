#pragma once
// The devices at the far end of the line, without any I/O: the card reader,
// the relay unit that can sit in front of it, and the desktop printer on the
// relay unit's second side. Bytes from the program go in; the answer to each
// complete request comes out.

#include "CardImage.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace emu {

using Bytes = std::vector<std::uint8_t>;

enum class CardState { None, Readable, Authenticating, Error };
enum class Printer { Ack, PaperOut, Silent };
enum class Fault { None, Silence, Garbage, Checksum };

std::string hex(const Bytes &bytes);
bool parseHex(const std::string &text, Bytes &bytes);

class Reader {
public:
    // Receives log lines ("rx ...", "print ...").
    std::function<void(const std::string &)> log;

    CardState state = CardState::None;
    Printer printer = Printer::Ack;
    // With PaperOut: lines the printer still prints before it refuses.
    int paperLeft = 0;
    Fault fault = Fault::None;
    bool relay = false;
    // Answers given instead of the reader's own, one per request (an empty
    // optional: no answer). With scriptOnly the reader is silent once they
    // are used up.
    std::deque<std::optional<Bytes>> script;
    bool scriptOnly = false;

    void setCard(CardImage card);
    void setSeed(unsigned seed) { m_random.seed(seed); }

    // Bytes from the program; returns the answers to the requests they
    // complete, in order (an empty answer is not returned).
    std::vector<Bytes> receive(const Bytes &bytes);
    // Drops an incomplete request (the line stayed quiet in the middle of it).
    void dropPartial();
    bool hasPartial() const { return !m_in.empty(); }

    // Frames of the reader's side, for tests of the emulator itself.
    static Bytes textFrame(const std::string &command, const Bytes &data);
    static Bytes withChecksum(Bytes frame);

private:
    std::optional<Bytes> answerRequest(const Bytes &request);
    std::optional<Bytes> readerAnswer(const Bytes &request);
    std::optional<Bytes> printerAnswer(const Bytes &payload);
    Bytes recordFrame(char answer, const RecordBytes *record);
    Bytes cardStateFrame();

    CardImage m_card;
    std::size_t m_cursor = 0;
    bool m_crossed = false;
    bool m_session = false;
    Bytes m_in;
    std::mt19937 m_random{20240501};
};

} // namespace emu
