#include "CardImage.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace emu {
namespace {

bool parseHexByte(const std::string &s, std::uint8_t &out)
{
    if (s.size() != 2)
        return false;
    unsigned v = 0;
    if (std::sscanf(s.c_str(), "%2x", &v) != 1)
        return false;
    out = std::uint8_t(v);
    return true;
}

bool parseInt(const std::string &s, long &out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    out = std::strtol(s.c_str(), &end, 10);
    return end && *end == '\0';
}

bool parseGate(const std::string &office, const std::string &code, std::uint8_t *at)
{
    long jid = 0;
    if (!parseInt(office, jid) || jid < 0 || jid > 4095 || code.size() != 5)
        return false;
    at[0] = 0; // not used by the program
    at[1] = std::uint8_t(jid / 64);
    at[2] = std::uint8_t(jid % 64);
    const std::string digits = "0" + code;
    for (int i = 0; i < 3; ++i)
        if (!parseHexByte(digits.substr(i * 2, 2), at[3 + i]))
            return false;
    return true;
}

// "1234 0A1B2 1240 0A1C3 2024/05/01 08:15:30 1 1500 0392"
bool parseRecord(const std::vector<std::string> &f, RecordBytes &r)
{
    if (f.size() != 9)
        return false;
    r.fill(0);
    if (!parseGate(f[0], f[1], &r[0]) || !parseGate(f[2], f[3], &r[6]))
        return false;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (std::sscanf(f[4].c_str(), "%d/%d/%d%c", &y, &mo, &d, &tail) != 3 || y < 1997 || y > 2124 || mo < 0 ||
        mo > 15 || d < 0 || d > 31)
        return false;
    if (std::sscanf(f[5].c_str(), "%d:%d:%d%c", &h, &mi, &s, &tail) != 3 || h < 0 || h > 31 || mi < 0 ||
        mi > 63 || s < 0 || s > 63)
        return false;
    r[12] = std::uint8_t((y - 1997) * 2 + mo / 8);
    r[13] = std::uint8_t((mo % 8) * 32 + d);
    r[14] = std::uint8_t(h * 8 + mi / 8);
    r[15] = std::uint8_t((mi % 8) * 32 + s / 2);
    long car = 0, amount = 0;
    if (!parseInt(f[6], car) || car < 0 || car > 255 || !parseInt(f[7], amount) || amount < -8388608 ||
        amount > 8388607)
        return false;
    r[16] = std::uint8_t(car);
    const unsigned long raw = (unsigned long)(amount + 8388608);
    r[17] = std::uint8_t(raw >> 16);
    r[18] = std::uint8_t(raw >> 8);
    r[19] = std::uint8_t(raw);
    return f[8].size() == 4 && parseHexByte(f[8].substr(0, 2), r[20]) && parseHexByte(f[8].substr(2, 2), r[21]);
}

} // namespace

bool parseCardImage(const std::string &text, CardImage &image, std::string &error)
{
    image = CardImage{};
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> f;
        for (std::string w; words >> w;)
            f.push_back(w);
        if (f.empty())
            continue;
        bool ok = false;
        if (f[0] == "wrap" && f.size() == 2) {
            long k = 0;
            ok = parseInt(f[1], k) && k >= 0;
            image.wrap = std::size_t(k);
        } else if (f[0] == "raw" && f.size() == 23) {
            RecordBytes r{};
            ok = true;
            for (int i = 0; i < 22 && ok; ++i)
                ok = parseHexByte(f[1 + i], r[i]);
            if (ok)
                image.records.push_back(r);
        } else {
            RecordBytes r{};
            ok = parseRecord(f, r);
            if (ok)
                image.records.push_back(r);
        }
        if (!ok) {
            error = "line " + std::to_string(lineNo) + ": cannot read \"" + line + "\"";
            return false;
        }
    }
    return true;
}

bool loadCardImage(const std::string &path, CardImage &image, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::stringstream all;
    all << file.rdbuf();
    return parseCardImage(all.str(), image, error);
}

} // namespace emu
