#pragma once

#include <QByteArray>
#include <QString>

// What a reader found in one of the station's settings files (conf.txt, plc.txt,
// rotate.txt, the password files). Whatever it found, the station goes on: with the file's
// values, or with defaults for what it could not read.
struct SettingsRead
{
    enum State {
        Whole,    // read as its writer writes it (or as a hand edit leaves it)
        Missing,  // not there, or not readable
        Empty,    // nothing in it: the save of an older build cut short by a power loss
        Damaged,  // cut or garbled: part of it, or none of it, could be read
    };
    State state = Whole;
    // What is wrong and what the station does instead, one English sentence for the
    // screen and the log; empty when there is nothing to say.
    QString detail;

    bool whole() const { return state == Whole; }
};

namespace SettingsFile {

// Nothing but line ends, blanks and NUL bytes.
bool blank(const QByteArray &bytes);

// Writes bytes through a temporary file beside path, which replaces path only once it is
// written and synced whole: a power cut during a save leaves the old file or the new one,
// never a part of either. text: line ends as the platform's text files have them.
// False, and path unchanged, when it could not be written.
bool writeWhole(const QString &path, const QByteArray &bytes, bool text = false);

} // namespace SettingsFile
