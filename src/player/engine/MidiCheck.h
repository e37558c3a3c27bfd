#pragma once
// A standard MIDI file's structure, checked before the file is handed to the media
// framework: its MIDI parser reads past its buffer or loops for ever on some damaged
// files, which would take the whole player down with it.
#include <cstddef>
#include <string>
#include <string_view>

namespace kino {

enum class MidiVerdict {
    NotMidi, // does not start as a MIDI file (nor an RMID wrapper of one)
    Sound,   // every chunk and event is where its lengths say
    Damaged, // starts as MIDI, but its structure does not hold
};

// Checks the bytes of a whole file.
MidiVerdict CheckMidi(std::string_view bytes);

// Reads the file at `path` when it starts as a MIDI file and checks it; a file that
// cannot be read counts as not MIDI (opening it reports why).
MidiVerdict CheckMidiFile(const std::string& path);

} // namespace kino
