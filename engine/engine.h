// The deflate engine as the container writer sees it.
//
// A compression builds the code tables, prepares the window (which already
// reads the first input through input_hook), then runs the parser to the end
// of the input. The engine writes a complete raw deflate stream through the
// bit writer and leaves it aligned to a byte. Its state is process-wide and
// static: compressions run one after another, never two at once. The
// program runs one per process; later ones in the same process produce valid
// streams too, but the window's leftovers from an earlier input can decide
// between equally long matches, so only a fresh process is byte-for-byte
// reproducible.
#pragma once

#include <cstdint>

namespace pelk {

// The level of the run; the program always compresses at 6. Levels 1-3
// parse greedily, 4-9 lazily.
extern int compression_level;

// Builds the code tables on the first call and starts the first block.
// The two pointers are accepted for interface compatibility; neither
// changes the output.
void build_code_tables(const uint16_t* attributes, const int* method);

// Selects the level's parameters, empties the hash chains and fills the
// window with the first input. A level outside 1..9 ends the run with
// "bad pack level".
void match_init(int level);

// Compresses the rest of the input and ends the stream. Returns the number
// of whole bytes the engine has written.
uint32_t compress_input();

}  // namespace pelk
