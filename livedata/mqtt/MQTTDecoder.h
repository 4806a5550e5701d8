#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

#include "livedata/mqtt/MQTTData.h"
#include "platform/Error.h"

namespace ambrell {

class MQTTDecoder;

// What the framing decoder reports besides frames. The session turns them
// into its own events: a protocol error, the broker closing, a connection
// error.
enum class MQTTDecoderEvent : std::int64_t {
    protocolError = 0,
    connectionClosed = 1,
    connectionError = 2,
};

enum class MQTTDecoderState : std::uint32_t {
    // Not opened yet, or closed: chunks are dropped.
    initializing = 0,
    // Between frames, waiting for a first byte.
    decodingHeader = 1,
    // Reading the remaining length.
    decodingLength = 2,
    // Reading the body.
    decodingData = 3,
    // A protocol error was reported; chunks are dropped until the decoder is
    // replaced (or opened again).
    connectionError = 5,
};

// Told of every whole frame and every failure, on the thread that feeds the
// decoder. Both methods are optional.
class MQTTDecoderDelegate {
public:
    virtual ~MQTTDecoderDelegate() = default;
    // One whole frame: first byte, length bytes and body. The bytes are valid
    // only during the call.
    virtual void decoderDidReceiveMessage(MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> /*frame*/) {}
    // The decoder itself raises only protocolError, with the error
    // kMQTTErrorIllegalMessage of the library's domain; the decoder then
    // stays in connectionError.
    virtual void decoderHandleEvent(MQTTDecoder& /*decoder*/, MQTTDecoderEvent /*event*/,
                                    const platform::NSError& /*error*/) {}
};

// Cuts the byte stream of one connection into whole MQTT frames. The
// transport hands it chunks as they arrive, of any size and split anywhere;
// frames come out in order, each once, as soon as its last byte is in.
//
// Hostile input costs nothing: a fourth length byte that announces a fifth,
// or a frame larger than maximumPacketSize, is a protocol error reported
// before any of its body is kept, and memory only ever grows by bytes that
// have arrived, never by what a length declares.
//
// Not thread-safe: the owner (the session) calls it on one strand. Frames
// wholly inside one chunk are handed up without a copy. The delegate may
// close the decoder, feed it more bytes (queued behind the current chunk) or
// drop the last reference to it from a callback, the latter only when the
// decoder is owned by a std::shared_ptr. The decoder throws nothing of its
// own; an exception from a callback reaches the caller of decodeMessage, and
// the rest of that chunk is dropped.
class MQTTDecoder : public std::enable_shared_from_this<MQTTDecoder> {
public:
    MQTTDecoder() = default;
    MQTTDecoder(const MQTTDecoder&) = delete;
    MQTTDecoder& operator=(const MQTTDecoder&) = delete;

    // Held weakly; a gone delegate hears nothing.
    void setDelegate(std::weak_ptr<MQTTDecoderDelegate> delegate);
    // The largest frame accepted, in bytes (first byte and length bytes
    // included); 0 (the default) means the largest the protocol allows.
    void setMaximumPacketSize(std::uint32_t maximumPacketSize);
    [[nodiscard]] std::uint32_t maximumPacketSize() const;
    [[nodiscard]] MQTTDecoderState state() const;
    // Bytes of the unfinished frame held (0 between frames and after an
    // error).
    [[nodiscard]] std::size_t bufferedSize() const;

    // Starts taking chunks, with no unfinished frame.
    void open();
    // Stops taking chunks: drops the unfinished frame and any chunk still
    // queued, and ends the current chunk's decoding when called from a
    // callback.
    void close();
    // One chunk of received bytes, not necessarily one frame. Dropped unless
    // the decoder is open and has not failed.
    void decodeMessage(std::span<const std::uint8_t> chunk);

private:
    [[nodiscard]] bool isDecoding() const;
    void decodeChunk(std::span<const std::uint8_t> chunk, MQTTDecoderDelegate* delegate);
    // Decodes a frame lying wholly in bytes; how many bytes it took, 0 when
    // it does not lie wholly there (or a protocol error was reported).
    std::size_t decodeWholeFrame(std::span<const std::uint8_t> bytes, MQTTDecoderDelegate* delegate);
    void deliver(std::span<const std::uint8_t> frame, MQTTDecoderDelegate* delegate);
    void failWithProtocolError(MQTTDecoderDelegate* delegate);
    [[nodiscard]] std::uint64_t frameLimit() const;

    std::weak_ptr<MQTTDecoderDelegate> delegate_;
    MQTTDecoderState state_ = MQTTDecoderState::initializing;
    // The remaining length and the size of the fixed header (first byte and
    // length bytes) of the frame being read, once its length is complete.
    std::uint32_t length_ = 0;
    std::uint32_t offset_ = 0;
    std::uint32_t maximumPacketSize_ = 0;
    // The unfinished frame, from its first byte.
    Bytes dataBuffer_;
    // Chunks fed from a callback, decoded after the current one.
    std::deque<Bytes> pending_;
    bool decoding_ = false;
};

}  // namespace ambrell
