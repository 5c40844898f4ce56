#pragma once

// The form names the Windows fonts "微软雅黑" and "宋体"; elsewhere they are missing, and
// Qt would set Latin text in its default face with the Chinese from whatever font has
// it. This names the installed Chinese faces that stand in for them.
namespace StationFonts {
void install();
}
