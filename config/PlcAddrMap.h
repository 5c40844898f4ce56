#pragma once

// Modbus addresses of the PLC's signals, from "../conf/modbus.txt". An address of 0 or
// less means the signal is not configured.
struct PlcAddrMap
{
    int KICK1 = 0;     // register pair, low word first: kicks of camera 1
    int KICK2 = 0;
    int KICK3 = 0;
    int KICK4 = 0;
    int QUANTITY = 0;  // register pair: production total
    int SHIFT = 0;     // coil: shift change done
    int WORK = 0;      // coil: working / paused
    int NO_KICK = 0;   // coil: unkick mode
    int DEBUG = 0;     // coil: read from the file, unused
    int RESET = 0;     // coil: reset pulse
    int ALARM = 0;     // register pair: alarm code in the first register

    // KICK1..KICK4 by camera position 0..3.
    int kick(int position) const;
    void clear() { *this = PlcAddrMap(); }
};

extern PlcAddrMap g_plc_addr;

// Reads "../conf/modbus.txt" into map. Missing or unopenable file: prints
// "Error: Open config file ../conf/modbus.txt" and returns false, map untouched.
bool readPlcAddrMap(PlcAddrMap &map);
