#pragma once

#include "SysConf.h"

// The benchmarks' settings at every position: the simulated cameras' user ID (255), three
// shots, recipe 5|5|5, MISMATCHACT 1 (a box without its verdict is ejected), and SAVE as
// asked.
inline void setBenchRecipe(int save)
{
    for (int p = 0; p < 4; ++p) {
        g_sys_conf.USERID[p] = 255;
        g_sys_conf.SHOOT[p] = 3;
        for (int i = 0; i < 3; ++i)
            g_sys_conf.NO[p][i] = 5;
    }
    g_sys_conf.SAVE = save;
    g_sys_conf.MISMATCHACT = 1;
}
