// A whole run: the frames of the command line converted by -j workers,
// with the progress bar, the --json lines and the messages on stderr.
#pragma once
#include "options.h"

namespace Kor2Vdb {

// Returns the exit status: 0 every frame converted, 1 some failed (or none
// was found), 2 bad usage found while planning the frames.
int Run(const Options& options);

// Keeps the memory of a frame's channels in the process when they are
// freed, for the next frame to reuse: each channel is a block of up to
// hundreds of MiB, which the C library would otherwise hand back to the
// system and fault in again, page by page, for the next frame (a third of
// the decoding time of a 256^3 frame). Peak memory stays what -j frames
// need. Run() calls it; a program converting frames itself may too.
void KeepFreedMemoryForReuse();

}  // namespace Kor2Vdb
