#pragma once

namespace tarnvel {

// Saves the configuration area [start, end) of /dev/mtdblock0 into the backup partition
// /dev/mtdblock2 at start - 0x6000. `name` prefixes every message and, holding "def2backup"
// or "cur2backup", has the backup partition positioned explicitly.
void partition2backup(int start, int end, const char* name);

// Restores the area [start, end) of /dev/mtdblock0 from /dev/mtdblock2 at start - 0x6000;
// positioned explicitly for a `name` holding "backup2def" or "backup2cur".
void backup2partition(int start, int end, const char* name);

} // namespace tarnvel
