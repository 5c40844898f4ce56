#pragma once

#include <QString>

// A pseudo-terminal pair in raw mode. The simulator serves on the master side; the
// station opens slavePath() like any serial port. The slave side stays open here too, so
// the master never sees a hang-up while the station is away or restarting.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { close(); }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(QString *error = nullptr);
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
