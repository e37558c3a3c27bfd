#pragma once
// The one gate a local file passes before it is handed to GStreamer, whichever way it
// was named (a path, a file: URI in any spelling, a name on the command line) and
// whoever opens it (the player, or the opening ahead at start-up): a FIFO or a device
// would block whoever opens it, and GStreamer's MIDI parser reads past its buffer or
// loops for ever on a damaged MIDI file.
#include <string>

namespace kino {

struct LocalName {
    enum Kind {
        NotLocal, // a network location, or no location at all
        Local,    // `path` is the file
        Invalid,  // a file: URI that names no local file (another host, a broken escape)
    };
    Kind kind = NotLocal;
    std::string path;
};

// What a source names: a text without a URI scheme is a path as it stands; a file: URI
// (the scheme in any letter case, no host or "localhost", escaped bytes) the path it
// names.
LocalName LocalNameOf(const std::string& source);

enum class LocalVerdict {
    Playable,    // a regular file, not MIDI
    Midi,        // a MIDI file whose structure holds
    Missing,     // not there, or not readable to stat
    NotRegular,  // a folder, a FIFO, a device, a socket
    DamagedMidi, // starts as MIDI, but its structure does not hold
};

LocalVerdict CheckLocalFile(const std::string& path);

// The URI GStreamer is given for `source`: a path made absolute and escaped; a text
// with a URI scheme as it stands; empty when the path cannot be made one.
std::string UriFor(const std::string& source);

// The URI to open `source` ahead with, before anyone asks for it: a regular local file
// that is not MIDI (a MIDI file is checked by the player before GStreamer may see it).
// Empty for anything else, which is opened when its turn comes.
std::string UriToOpenAhead(const std::string& source);

// The sound format a WAVE file declares (its format chunk as stored), empty for any other
// file or one whose header does not hold: two files that give the same text play on
// from one into the other through one sound stream.
std::string WaveFormatOf(const std::string& path);

// The caps of a container the file's first bytes name beyond doubt (a RIFF file of form
// "AVI " or "WAVE"), empty for anything else or a file that is not a regular file.
// Handed to decodebin, they spare it loading and running every type finder.
std::string KnownContainerOf(const std::string& path);

// Whether the file's first bytes show that libav's decoders will decode its picture: an
// MPEG program, transport or video stream, or an AVI whose first video stream is MPEG-4
// (Xvid, DivX), H.264, Windows Media or MPEG-1/2. False for anything else, a Motion JPEG
// or uncompressed AVI among them, and for a file that is not a regular file.
bool DecodedByLibav(const std::string& path);

} // namespace kino
