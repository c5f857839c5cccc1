#pragma once
// What a viewer learns from a file's own bytes before it shows it: whether a RIFF file (AVI, WAV) holds
// all it claims, and whether a file is text or binary. No widgets.
#include <QByteArray>
#include <QString>

namespace viewers {

// True when the file is a RIFF file (AVI, WAV) one of whose chunks claims more bytes than the file holds:
// a cut download or copy, or a broken header. Such a file ends early or never, and the player would
// report its early end as a finished play. Sizes that writers of streams leave open (0 and 0xFFFFFFFF)
// and the 8-byte slack of writers that count the RIFF header in are no claim. Files of other kinds: false.
bool riffClaimsMissingBytes(const QString &path);

// The block of a file's start that the text-or-binary decision reads, as other tools read it.
constexpr int kSniffBlockSize = 8192;

// True when a file that starts with these bytes is binary: its first block holds a NUL byte and does not
// read as UTF-16 or UTF-32 text (a byte order mark, or UTF-16 without one, mostly ASCII, all of it text).
bool looksBinary(const QByteArray &start);

}  // namespace viewers
