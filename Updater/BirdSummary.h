// Text views of a loaded BIRD file for the programs that show one (the Updater's
// -C check; the same columns as birdtool's info listing). Lines carry no line end.
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

#endif
