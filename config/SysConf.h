#pragma once

#include "SettingsFile.h"

#include <QMutex>
#include <QTime>

#include <string>
#include <vector>

// The station's settings and recipe, mirroring "../conf/conf.txt". Fields are named by
// their file keys. Only the GUI thread writes the record once start-up has read it.
struct SysConf
{
    static constexpr int kCameras = 4;
    static constexpr int kMaxShots = 3;

    SysConf();
    SysConf(const SysConf &) = delete;
    SysConf &operator=(const SysConf &) = delete;

    // Guards SAVE, MISMATCHACT, SHOOT and NO, which the work threads copy once per frame.
    QMutex lock;

    int SAVE = 0;          // 0 save none, 1 save NG, 2 save all
    int MISMATCHACT = 1;   // frame with a wrong image count: 1 NG, 0 OK, else no verdict
    int SAVE_DAYS = 1;
    int AUTO_OPEN = 1;
    int AUTO_WORK = 1;
    int AUTO_SHIFT = 1;
    QTime SHIFT_A{0, 0};
    QTime SHIFT_B{0, 0};
    QTime SHIFT_C{0, 0};
    int TIMING_SHIFT = 0;

    int EXPO[kCameras];    // exposure, microseconds
    int GAIN[kCameras];    // analogue gain 0..64
    int FILTER[kCameras];  // line filter time, microseconds
    int USERID[kCameras];
    int NO[kCameras][kMaxShots];  // expected glue dots per image
    int SHOOT[kCameras];   // images per frame, 1..3

    std::string MonitorIP;
    int MonitorPort = 0;
};

extern SysConf g_sys_conf;

// Reads "../conf/conf.txt" into conf. Missing or unopenable file: prints
// "Error: Open config file ../conf/conf.txt" and returns false, conf untouched.
// found, when given, says whether the file was whole: Empty, or Damaged when it lacks any
// key that writeConfFile writes (its lines are taken all the same).
bool readConfFile(SysConf &conf, SettingsRead *found = nullptr);

// Replaces "../conf/conf.txt" whole with conf (the global record by default).
// Returns false when the file can't be written; the file and the record are left as they are.
bool writeConfFile(const SysConf &conf);
bool writeConfFile();

// Cuts text at every occurrence of separator, keeping empty pieces:
// "1||3" -> {"1", "", "3"}, "1|2|3|" -> four pieces, "" -> one empty piece.
std::vector<std::string> splitString(const std::string &text, const std::string &separator);
