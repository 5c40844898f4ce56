#pragma once

#include <QByteArray>

class QIODevice;

// The line rules shared by the station's key=value files (conf.txt, modbus.txt):
// lines of at most 255 characters, empty lines skipped, key before the first '=',
// integers taken from the leading digits of the value.
class ConfLineReader
{
public:
    static constexpr int kMaxLineLength = 255;

    // maxLineLength: plc.txt allows 1023 characters, the key=value files 255.
    explicit ConfLineReader(QIODevice &device, int maxLineLength = kMaxLineLength);

    // Next non-empty line without its line end. An over-long line is cut to the maximum
    // length and the rest of it is dropped, so it can never be mistaken for a line of
    // its own. Returns false at end of file.
    bool nextLine(QByteArray &line);

    // Key is the text before the first '=', value the text after it; without '=' both
    // are the whole line. Nothing is trimmed.
    static void splitKeyValue(const QByteArray &line, QByteArray &key, QByteArray &value);

    // Decimal integer at the start of text: leading white space skipped, optional sign,
    // digits up to the first non-digit; no digits gives 0. Saturates at the int range.
    static int leadingInt(const QByteArray &text);

private:
    QIODevice &m_device;
    const int m_maxLineLength;
};
