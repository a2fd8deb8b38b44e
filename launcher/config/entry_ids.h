// Every configuration entry of the media file by its name in the code, made from the rows of
// entries.def. The launcher reads entries only through these names (or the typed accessors), and
// the packing tool's table takes its ids from the same rows: an id is written once.
#pragma once
#include <cstdint>

namespace entry {

enum Id : int32_t {
#define PATHMERE_ENTRY(symbol, accessor, id, ...) symbol = id,
#include "config/entries.def"
#undef PATHMERE_ENTRY
};

}  // namespace entry
