#include "ConfLineReader.h"

#include <QIODevice>

#include <climits>

ConfLineReader::ConfLineReader(QIODevice &device, int maxLineLength)
    : m_device(device)
    , m_maxLineLength(maxLineLength)
{
}

bool ConfLineReader::nextLine(QByteArray &line)
{
    for (;;) {
        line.clear();
        bool gotAny = false;
        char c = 0;
        while (m_device.getChar(&c)) {
            gotAny = true;
            if (c == '\n')
                break;
            if (line.size() < m_maxLineLength)
                line.append(c);
        }
        if (!gotAny)
            return false;
        // A file edited on Windows reads the same as one written here.
        while (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            return true;
    }
}

void ConfLineReader::splitKeyValue(const QByteArray &line, QByteArray &key, QByteArray &value)
{
    const int eq = line.indexOf('=');
    if (eq < 0) {
        key = line;
        value = line;
        return;
    }
    key = line.left(eq);
    value = line.mid(eq + 1);
}

int ConfLineReader::leadingInt(const QByteArray &text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\v'
                     || text[i] == '\f' || text[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long magnitude = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (text[i] - '0');
        ++i;
    }
    const long long v = negative ? -magnitude : magnitude;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}
