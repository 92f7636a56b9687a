// The music thread and the sound's start and end: the tune loops on channels 0 and 2 for as long
// as the program runs, following the music switch and volume live.
#pragma once

#include <atomic>
#include <string>

#include "sound/fluid_output.h"
#include "sound/midi.h"

namespace sound {

// Set at start-up just before the music thread starts, cleared at shutdown. Effect threads stop
// when they find it clear.
[[nodiscard]] std::atomic<bool>& music_running();

// How the music thread gets its device: `open_midi_output` in the game.
using OutputOpener = bool (*)(MidiSink& sink, std::string& error);

// Unless music is already running: sets the flag and starts the music thread, which opens the
// output through `open` (reading a soundfont takes a while, so the window does not wait for it)
// and then loops the tune. When the output does not open the handle stays empty and the game is
// silent. False when music was already running or no thread could be started.
bool start_music(OutputOpener open = open_midi_output);

// The end of the sound: clears the flag, sends All Notes Off to channels 0, 1 and 2, waits 30 ms,
// then resets and closes the device under the MIDI mutex. Threads still running find the handle
// empty and send nothing more.
void stop_sound();

}  // namespace sound
