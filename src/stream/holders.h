// Owners for the stream library's objects, released when they go out of
// scope: a CharStream by its Close slot, a TextBuffer by TextBuffer_free.
#pragma once

#include <memory>

#include "stream/char_stream.h"
#include "stream/text_buffer.h"

namespace mz {

struct StreamCloser {
  void operator()(CharStream* stream) const { stream->Close(stream); }
};
using StreamHolder = std::unique_ptr<CharStream, StreamCloser>;

struct TextBufferFreer {
  void operator()(TextBuffer* buffer) const { TextBuffer_free(buffer); }
};
using TextBufferHolder = std::unique_ptr<TextBuffer, TextBufferFreer>;

}  // namespace mz
