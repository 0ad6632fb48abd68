// reader-emulator: a virtual ETC card reader on a pseudo-terminal.
// Usage and the command and card image formats: README.md, "Reader emulator".

#include "CardImage.h"
#include "Reader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace emu;

namespace {

const char *const kUsage =
    "usage: reader-emulator [options]\n"
    "  --link PATH          make PATH a symbolic link to the pseudo-terminal\n"
    "  --card FILE          card image (text format, see README.md)\n"
    "  --state STATE        none | readable | auth | error (default none)\n"
    "  --relay              a relay unit with a desktop printer sits in front of the reader\n"
    "  --printer MODE       ack | paperout | 'paperout N' (N lines, then out of paper) | silent (default ack)\n"
    "  --print-log FILE     append every printed line to FILE\n"
    "  --script FILE        answer from FILE (one answer per line in hex, '-' for none), then stay silent\n"
    "  --fault FAULT        none | silence | garbage | checksum\n"
    "  --baud RATE          pace the line at RATE baud (10 bits a byte); 0 = unpaced (default)\n"
    "  --control FIFO       also read commands from the named pipe FIFO (created if missing)\n"
    "  --seed N             seed of the garbage fault\n"
    "  --quiet              no traffic log on standard output\n"
    "The first line on standard output is the device path. Commands are read from\n"
    "standard input (and the control pipe), one a line; each is confirmed with \"ok <command>\".\n";

struct Options {
    std::string link, card, printLog, script, control;
    long baud = 0;
    bool quiet = false;
};

Reader g_reader;
Options g_options;
int g_master = -1;
int g_slave = -1;
std::string g_device;
bool g_cableIn = true;

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void sleepUntil(double when)
{
    timespec t{};
    t.tv_sec = time_t(when);
    t.tv_nsec = long((when - double(t.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

void out(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void logLine(const std::string &line)
{
    if (line.rfind("print ", 0) == 0 && !g_options.printLog.empty()) {
        std::ofstream log(g_options.printLog, std::ios::app);
        log << line.substr(6) << '\n';
    }
    if (!g_options.quiet)
        out(line);
}

bool openLine()
{
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B19200);
    cfsetospeed(&raw, B19200);
    char name[256] = {};
    if (openpty(&g_master, &g_slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    fcntl(g_master, F_SETFL, fcntl(g_master, F_GETFL) | O_NONBLOCK);
    fcntl(g_master, F_SETFD, FD_CLOEXEC);
    fcntl(g_slave, F_SETFD, FD_CLOEXEC);
    g_device = name;
    if (!g_options.link.empty()) {
        unlink(g_options.link.c_str());
        if (symlink(name, g_options.link.c_str()) != 0) {
            std::perror("symlink");
            return false;
        }
    }
    g_cableIn = true;
    return true;
}

void closeLine()
{
    if (!g_options.link.empty())
        unlink(g_options.link.c_str());
    if (g_master >= 0)
        close(g_master);
    if (g_slave >= 0)
        close(g_slave);
    g_master = g_slave = -1;
    g_cableIn = false;
}

double byteTime() { return g_options.baud > 0 ? 10.0 / double(g_options.baud) : 0.0; }

void sendBytes(const Bytes &bytes, double notBefore)
{
    if (g_master < 0)
        return;
    if (!g_options.quiet)
        out("tx " + hex(bytes));
    const double tb = byteTime();
    if (tb <= 0) {
        ssize_t written = write(g_master, bytes.data(), bytes.size());
        (void)written;
        return;
    }
    double next = std::max(notBefore, nowSeconds());
    for (std::uint8_t b : bytes) {
        sleepUntil(next);
        ssize_t written = write(g_master, &b, 1);
        (void)written;
        next += tb;
    }
    sleepUntil(next); // the last byte's own line time
}

bool parseState(const std::string &s, CardState &state)
{
    if (s == "none") state = CardState::None;
    else if (s == "readable") state = CardState::Readable;
    else if (s == "auth") state = CardState::Authenticating;
    else if (s == "error") state = CardState::Error;
    else return false;
    return true;
}

bool parsePrinter(const std::string &s, Printer &printer)
{
    // "paperout N": N more lines are printed, then the paper runs out.
    if (s.rfind("paperout ", 0) == 0) {
        char *end = nullptr;
        const long n = std::strtol(s.c_str() + 9, &end, 10);
        if (end == s.c_str() + 9 || *end != '\0' || n < 0)
            return false;
        printer = Printer::PaperOut;
        g_reader.paperLeft = int(n);
        return true;
    }
    g_reader.paperLeft = 0;
    if (s == "ack") printer = Printer::Ack;
    else if (s == "paperout") printer = Printer::PaperOut;
    else if (s == "silent") printer = Printer::Silent;
    else return false;
    return true;
}

bool parseFault(const std::string &s, Fault &fault)
{
    if (s == "none") fault = Fault::None;
    else if (s == "silence") fault = Fault::Silence;
    else if (s == "garbage") fault = Fault::Garbage;
    else if (s == "checksum") fault = Fault::Checksum;
    else return false;
    return true;
}

bool loadScript(const std::string &path, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        if (line.find('-') != std::string::npos) {
            g_reader.script.push_back(std::nullopt);
            continue;
        }
        Bytes bytes;
        if (!parseHex(line, bytes)) {
            error = "bad answer in " + path + ": " + line;
            return false;
        }
        g_reader.script.push_back(bytes);
    }
    return true;
}

// One command line from standard input or the control pipe. False: quit.
bool command(const std::string &line)
{
    std::istringstream in(line);
    std::string verb, arg;
    in >> verb;
    std::getline(in, arg);
    arg.erase(0, arg.find_first_not_of(' '));
    while (!arg.empty() && (arg.back() == '\r' || arg.back() == ' '))
        arg.pop_back();
    if (verb.empty())
        return true;
    std::string error;
    bool ok = true;
    if (verb == "quit") {
        out("ok quit");
        return false;
    } else if (verb == "state") {
        ok = parseState(arg, g_reader.state);
    } else if (verb == "card") {
        CardImage image;
        ok = loadCardImage(arg, image, error);
        if (ok)
            g_reader.setCard(std::move(image));
    } else if (verb == "fault") {
        ok = parseFault(arg, g_reader.fault);
    } else if (verb == "printer") {
        ok = parsePrinter(arg, g_reader.printer);
    } else if (verb == "relay") {
        ok = arg == "on" || arg == "off";
        g_reader.relay = arg == "on";
    } else if (verb == "baud") {
        g_options.baud = std::atol(arg.c_str());
    } else if (verb == "answer") {
        if (arg == "-") {
            g_reader.script.push_back(std::nullopt);
        } else {
            Bytes bytes;
            ok = parseHex(arg, bytes);
            if (ok)
                g_reader.script.push_back(bytes);
        }
    } else if (verb == "script") {
        if (arg == "off") {
            g_reader.script.clear();
            g_reader.scriptOnly = false;
        } else {
            ok = loadScript(arg, error);
            g_reader.scriptOnly = ok;
        }
    } else if (verb == "send") {
        Bytes bytes;
        ok = parseHex(arg, bytes);
        if (ok)
            sendBytes(bytes, 0);
    } else if (verb == "cable") {
        if (arg == "out") {
            if (g_cableIn)
                closeLine();
        } else if (arg == "in") {
            if (!g_cableIn)
                ok = openLine();
            if (ok)
                out("device " + g_device);
        } else {
            ok = false;
        }
    } else {
        ok = false;
    }
    out((ok ? "ok " : "error ") + line + (error.empty() ? "" : " (" + error + ")"));
    return true;
}

struct LineReader {
    int fd;
    std::string pending;
    // Reads what is there; returns false at end of input.
    bool read(std::vector<std::string> &lines)
    {
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        pending.append(buf, std::size_t(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        return true;
    }
};

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

} // namespace

int main(int argc, char **argv)
{
    std::string stateText = "none", printerText = "ack", faultText = "none";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n%s", a.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--link") g_options.link = value();
        else if (a == "--card") g_options.card = value();
        else if (a == "--state") stateText = value();
        else if (a == "--relay") g_reader.relay = true;
        else if (a == "--printer") printerText = value();
        else if (a == "--print-log") g_options.printLog = value();
        else if (a == "--script") g_options.script = value();
        else if (a == "--fault") faultText = value();
        else if (a == "--baud") g_options.baud = std::atol(value().c_str());
        else if (a == "--control") g_options.control = value();
        else if (a == "--seed") g_reader.setSeed(unsigned(std::atol(value().c_str())));
        else if (a == "--quiet") g_options.quiet = true;
        else {
            std::fputs(kUsage, a == "--help" ? stdout : stderr);
            return a == "--help" ? 0 : 2;
        }
    }
    std::string error;
    if (!parseState(stateText, g_reader.state) || !parsePrinter(printerText, g_reader.printer) ||
        !parseFault(faultText, g_reader.fault)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!g_options.card.empty()) {
        CardImage image;
        if (!loadCardImage(g_options.card, image, error)) {
            std::fprintf(stderr, "reader-emulator: %s\n", error.c_str());
            return 2;
        }
        g_reader.setCard(std::move(image));
    }
    if (!g_options.script.empty()) {
        if (!loadScript(g_options.script, error)) {
            std::fprintf(stderr, "reader-emulator: %s\n", error.c_str());
            return 2;
        }
        g_reader.scriptOnly = true;
    }
    g_reader.log = logLine;

    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    signal(SIGHUP, onSignal);
    signal(SIGPIPE, SIG_IGN);
    if (!openLine())
        return 1;
    out(g_options.link.empty() ? g_device : g_options.link);

    int controlFd = -1;
    if (!g_options.control.empty()) {
        struct stat st{};
        if (stat(g_options.control.c_str(), &st) != 0)
            mkfifo(g_options.control.c_str(), 0600);
        // Read and write, so that the pipe never reports end of input.
        controlFd = open(g_options.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    LineReader stdinLines{STDIN_FILENO, {}}, controlLines{controlFd, {}};
    bool stdinOpen = true;
    double requestStart = 0; // when the first byte of the pending request arrived
    std::size_t requestBytes = 0;

    while (!g_stop) {
        pollfd fds[3];
        int n = 0;
        const int masterAt = g_master >= 0 ? n : -1;
        if (g_master >= 0)
            fds[n++] = {g_master, POLLIN, 0};
        const int stdinAt = stdinOpen ? n : -1;
        if (stdinOpen)
            fds[n++] = {STDIN_FILENO, POLLIN, 0};
        const int controlAt = controlFd >= 0 ? n : -1;
        if (controlFd >= 0)
            fds[n++] = {controlFd, POLLIN, 0};
        const int timeoutMs = g_reader.hasPartial() ? 100 : 1000;
        const int ready = poll(fds, nfds_t(n), timeoutMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0 && g_reader.hasPartial()) {
            g_reader.dropPartial();
            requestBytes = 0;
        }

        std::vector<std::string> lines;
        if (stdinAt >= 0 && fds[stdinAt].revents)
            stdinOpen = stdinLines.read(lines);
        if (controlAt >= 0 && fds[controlAt].revents)
            controlLines.read(lines);
        bool quit = false;
        for (const auto &line : lines)
            if (!command(line))
                quit = true;
        if (quit)
            break;

        if (masterAt >= 0 && g_master >= 0 && (fds[masterAt].revents & POLLIN)) {
            std::uint8_t buf[4096];
            const ssize_t got = read(g_master, buf, sizeof buf);
            if (got > 0) {
                if (requestBytes == 0)
                    requestStart = nowSeconds();
                requestBytes += std::size_t(got);
                const auto answers = g_reader.receive(Bytes(buf, buf + got));
                if (!answers.empty() || !g_reader.hasPartial()) {
                    // A request takes its own line time before the reader can answer.
                    const double answerAt = requestStart + double(requestBytes) * byteTime();
                    requestBytes = 0;
                    for (const auto &answer : answers)
                        sendBytes(answer, answerAt);
                }
            }
        }
    }
    closeLine();
    if (controlFd >= 0)
        close(controlFd);
    return 0;
}
