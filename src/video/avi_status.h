#pragma once

namespace video {

// Outcome of an AVI container operation. Ok is the only success.
enum class AviStatus {
    Ok,
    CannotOpen,     // the file could not be opened (system error text available)
    NotAvi,         // not a RIFF 'AVI ' file, or its headers cannot be parsed
    BadPosition,    // a sample position below 0 or past the last sample
    BufferTooSmall, // the sample is larger than the room offered
    ReadFailed,     // the sample's bytes could not be read (I/O error, truncated file)
    BlocksInUse,    // every block a reader reads into still holds lent bytes
    WriteFailed,    // writing, seeking or closing the output failed (system error text available)
    BadState,       // the call does not fit the writer's state (no stream yet, finished, ...)
    BadParameter,   // an argument the operation cannot take
};

} // namespace video
