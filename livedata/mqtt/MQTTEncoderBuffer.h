#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "livedata/mqtt/MQTTData.h"

namespace ambrell {

enum class MQTTEncoderState : std::int64_t {
    // The output side cannot take bytes yet.
    initializing = 0,
    ready = 1,
    // A write failed; nothing more is taken.
    error = 2,
};

// The output side's queue of bytes a transport has taken but not yet written.
// Frames go out whole and in the order they were sent, however the socket
// splits the writes.
//
// A transport calls send for each frame, and drives the writes: beginWrite
// hands it the bytes to write next, which stay unchanged (so an asynchronous
// write may point into them) until it reports with finishWrite how many were
// written; the rest go out first on the next beginWrite. Bytes sent while a
// write is under way wait behind it.
//
// Not thread-safe: the transport calls it on its strand.
class MQTTEncoderBuffer {
public:
    [[nodiscard]] MQTTEncoderState state() const;
    // The output side can take bytes (from initializing; an error stays).
    void setReady();
    // A write failed: later sends are refused; what is queued stays for
    // inspection until reset.
    void setError();
    // Back to initializing, empty.
    void reset();

    // Queues bytes. False, nothing kept, unless the state is ready.
    bool send(std::span<const std::uint8_t> bytes);

    // The bytes to write next: empty when nothing is queued or a write is
    // already under way.
    [[nodiscard]] std::span<const std::uint8_t> beginWrite();
    // The write begun last has put out its first `written` bytes.
    void finishWrite(std::size_t written);
    [[nodiscard]] bool isWriting() const;
    // Bytes not yet written, in flight or queued.
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] bool empty() const;

private:
    MQTTEncoderState state_ = MQTTEncoderState::initializing;
    // What the current or an unfinished write covers, from inFlightOffset_.
    Bytes inFlight_;
    std::size_t inFlightOffset_ = 0;
    // Sent while a write was under way.
    Bytes queued_;
    bool writing_ = false;
};

}  // namespace ambrell
