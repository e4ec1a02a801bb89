// Text views of a loaded BIRD file for the programs that show one: the Updater's -C
// check and birdtool info print the same summary. Lines carry no line end; labels
// are padded so that values start in column 20.
#ifndef UPDATER_BIRDSUMMARY_H
#define UPDATER_BIRDSUMMARY_H

#include <string>
#include <vector>

#include "BirdFile.h"

// What a block type holds: "loader image", "firmware image", "serial locations",
// "identity", "start address", or "unknown".
const char* birdBlockKind(uint8 type);

// The block table: a header line, then one line per block in file order with its
// number (from 1), type, flags, payload length, load address (images only, "-"
// otherwise) and kind:
//   "  #    Type  Flags  Length      Address     Kind"
//   "  2    1     0      304         0x00001000  firmware image"
std::vector<std::string> birdBlockTable(const BirdFile& file);

// What the file is for and what it holds, in this order:
//   "Identity:          none", or "Identity:" and the indented description,
//     version, target serial number, model name and the module models it fits;
//   "Serial locations:  ..." (where a module's serial number is patched in, or none);
//   "Start address:     ..." (0x%08X, or none);
//   "Blocks:            N" and the block table.
std::vector<std::string> birdSummary(const BirdFile& file);

#endif
