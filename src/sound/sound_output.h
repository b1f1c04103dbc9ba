#pragma once
#include <span>
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

    // The lifecycle the session drives; an output with no device and nothing to load keeps these.
    // Opens the device; false when there is none (the output then plays nothing, and nothing else changes).
    virtual bool Open() { return true; }
    // Ends playback and lets the device go. Safe to call at any time, also twice.
    virtual void Close() {}
    // Gets the files ready to play without delay; returns at once.
    virtual void Preload(std::span<const std::string> /*files*/) {}
    // Forgets what was got ready, e.g. after the user changed the files.
    virtual void ClearCache() {}
    // Whether a device plays what is started: false when Open() found none.
    virtual bool available() const { return true; }
};

}  // namespace zanth
