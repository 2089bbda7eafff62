// The interleaved layout of a title set as libdvdread reads it: its IFO (program chains, cell
// address table) and its navpacks (navRead_PCI/navRead_DSI). The rules that say what the layout
// gives each navpack are the program's own (engine/ilvu/IlvuLayout.h); reading the disc through
// libdvdread keeps the checker's view of the bytes apart from the cleaner's, and the cleaner
// never derives the fields from those rules: it moves the fields the disc carries.
#pragma once

#include <dvdread/ifo_types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ilvu/IlvuLayout.h"

namespace dorvex::ilvu {

// The navpacks of a stream of 2048-byte packs, read with libdvdread's navRead_PCI/navRead_DSI.
std::vector<Navpack> ReadNavpacks(const uint8_t* stream, uint32_t sectors);

// The layout the title domain of a VTS IFO describes over its stream. Where the IFO's
// description of the pieces (cell address table entries of a played cell, its first and last
// sectors and first ILVU end) does not fit the stream, the disagreement goes to `problems`.
Layout LayoutOf(const ifo_handle_t& vts, const uint8_t* stream, uint32_t sectors,
                std::vector<std::string>& problems);

}  // namespace dorvex::ilvu
