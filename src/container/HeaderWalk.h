#pragma once

class CMirolan;

namespace avi {

// Walks the file's RIFF structure from offset 0, copies the main header, the
// stream headers and formats into the reader, and hands over to the standard
// index reader at the first 'ix00'/'ix01' of the reader's stream. True only
// when that index was read. May throw std::bad_alloc.
bool WalkHeaders(CMirolan& reader);

}  // namespace avi
