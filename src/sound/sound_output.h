#pragma once
#include <string>

namespace zanth {

// The three things the playback rules ask of an audio back end. Every call returns at once; playback runs on
// its own. Only one sound is ever audible.
class SoundOutput {
  public:
    virtual ~SoundOutput() = default;

    // Ends whatever plays, then plays `file` once. The end happens even when `file` is empty or cannot be
    // played: the rules hand the playback state to the newly pressed entry, so a sound left running would
    // belong to no entry and escape its cut-off.
    virtual void Start(const std::string& file) = 0;

    // Plays `file` once, but only when nothing is playing at this moment; otherwise does nothing.
    virtual void Retrigger(const std::string& file) = 0;

    // Ends whatever plays.
    virtual void Stop() = 0;
};

}  // namespace zanth
