// The search filter's cycle of the mutation run, as the indexer's filter
// host makes it: a new filter, loaded with the stream, every chunk read.
#pragma once

#include <objidl.h>

#include "tests/bench/cycles.h"

// IPersistStream::Load, Init, then every chunk to the end: each text chunk
// read through GetText in small buffers, each value through GetValue.
// Made: the chunks ended with FILTER_E_END_OF_CHUNKS; Refused: Init failed
// with a filter's status for a bad book. Broken: any other failure, an id
// not above the last, a text chunk over the limit, more text than the
// buffer, or a wrong answer to a call that does not fit the chunk.
CycleResult filter_cycle(IStream* stream);
