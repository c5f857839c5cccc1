#pragma once
// The text converter interface: what a converter library exports and how its caller and the library pass
// names and converted text. A converter turns a foreign document into RTF and hands it over in chunks
// through the caller's output function; the caller may stop it by answering non-zero.
//
// Names, class names and the transfer buffer travel as movable memory blocks (TConvBlock): zero-filled
// blocks allocated with malloc, which the library may grow with realloc (the transfer buffer, when a chunk
// does not fit). Texts in them are zero-terminated UTF-8.
#include <cstdlib>
#include <cstring>

extern "C" {

struct TConvBlock {
  char *data;
  unsigned long size;
};

// Receives `bytes` bytes of RTF from the start of the transfer block; percent is how far the conversion
// got (0..100). Called with 0 bytes while the converter waits, so that the caller can keep its window
// alive. Non-zero stops the conversion.
typedef long (*TConvOutput)(long bytes, int percent);

// Results of ForeignToRtf32 other than 0 (success).
enum {
  kConvOpenError = -1,      // the file cannot be read
  kConvWrongFormat = -2,    // not a document this converter reads
  kConvNoBackend = -3,      // none of the programs that do the conversion is installed
  kConvTimedOut = -4,       // the conversion took longer than its time limit and was stopped
  kConvCancelled = -5,      // the output function asked to stop
  kConvFailed = -6,         // the conversion program failed or produced nothing
  kConvOutOfMemory = -7
};

typedef long (*TInitConverter32)(void *window, const char *programPath);
typedef long (*TIsFormatCorrect32)(TConvBlock *fileName, TConvBlock *className);
typedef long (*TForeignToRtf32)(TConvBlock *fileName, void *storage, TConvBlock *buffer, TConvBlock *className,
                                TConvBlock *subset, TConvOutput output);
}

// A zero-filled block of twice the text's length plus one byte holding the zero-terminated text.
inline TConvBlock *convBlockForText(const char *text) {
  const std::size_t len = text ? std::strlen(text) : 0;
  auto *b = static_cast<TConvBlock *>(std::calloc(1, sizeof(TConvBlock)));
  if (!b) return nullptr;
  b->size = 2 * len + 1;
  b->data = static_cast<char *>(std::calloc(b->size, 1));
  if (!b->data) {
    std::free(b);
    return nullptr;
  }
  if (len) std::memcpy(b->data, text, len);
  return b;
}

// A zero-filled block of `size` bytes.
inline TConvBlock *convBlockAlloc(unsigned long size) {
  auto *b = static_cast<TConvBlock *>(std::calloc(1, sizeof(TConvBlock)));
  if (!b) return nullptr;
  b->size = size;
  b->data = static_cast<char *>(std::calloc(size ? size : 1, 1));
  if (!b->data) {
    std::free(b);
    return nullptr;
  }
  return b;
}

inline void convBlockFree(TConvBlock *b) {
  if (!b) return;
  std::free(b->data);
  std::free(b);
}
