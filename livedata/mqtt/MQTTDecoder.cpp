#include "livedata/mqtt/MQTTDecoder.h"

#include <algorithm>
#include <utility>

#include "livedata/mqtt/MQTTError.h"

namespace ambrell {

namespace {

// A frame buffer grown by one large frame is given back once it is delivered,
// so a single big message does not pin its memory for the connection's life.
constexpr std::size_t kRetainedBufferCapacity = 64 * 1024;

}  // namespace

void MQTTDecoder::setDelegate(std::weak_ptr<MQTTDecoderDelegate> delegate) { delegate_ = std::move(delegate); }

void MQTTDecoder::setMaximumPacketSize(std::uint32_t maximumPacketSize) { maximumPacketSize_ = maximumPacketSize; }

std::uint32_t MQTTDecoder::maximumPacketSize() const { return maximumPacketSize_; }

MQTTDecoderState MQTTDecoder::state() const { return state_; }

std::size_t MQTTDecoder::bufferedSize() const { return isDecoding() ? dataBuffer_.size() : 0; }

void MQTTDecoder::open() {
    state_ = MQTTDecoderState::decodingHeader;
    dataBuffer_.clear();
    length_ = 0;
    offset_ = 0;
}

void MQTTDecoder::close() {
    state_ = MQTTDecoderState::initializing;
    pending_.clear();
    // While a callback runs it may still look at the frame in the buffer:
    // decodeMessage releases it when the callback has returned.
    if (!decoding_) Bytes().swap(dataBuffer_);
}

bool MQTTDecoder::isDecoding() const {
    return state_ == MQTTDecoderState::decodingHeader || state_ == MQTTDecoderState::decodingLength ||
           state_ == MQTTDecoderState::decodingData;
}

std::uint64_t MQTTDecoder::frameLimit() const { return maximumPacketSize_ == 0 ? kMaxFrameSize : maximumPacketSize_; }

void MQTTDecoder::decodeMessage(std::span<const std::uint8_t> chunk) {
    if (!isDecoding()) return;
    if (decoding_) {
        pending_.emplace_back(chunk.begin(), chunk.end());
        return;
    }
    // A callback may drop the owner's last reference to this decoder.
    const std::shared_ptr<MQTTDecoder> keepAlive = weak_from_this().lock();
    const std::shared_ptr<MQTTDecoderDelegate> delegate = delegate_.lock();
    decoding_ = true;
    // Also when a callback throws: the decoder stays usable, the rest of the
    // chunk and the queued ones are dropped.
    struct DecodingScope {
        MQTTDecoder& decoder;
        ~DecodingScope() {
            decoder.decoding_ = false;
            decoder.pending_.clear();
            if (!decoder.isDecoding()) Bytes().swap(decoder.dataBuffer_);
        }
    } scope{*this};
    decodeChunk(chunk, delegate.get());
    while (!pending_.empty() && isDecoding()) {
        const Bytes next = std::move(pending_.front());
        pending_.pop_front();
        decodeChunk(next, delegate.get());
    }
}

void MQTTDecoder::decodeChunk(std::span<const std::uint8_t> chunk, MQTTDecoderDelegate* delegate) {
    std::size_t index = 0;
    while (index < chunk.size() && isDecoding()) {
        switch (state_) {
            case MQTTDecoderState::decodingHeader: {
                const std::size_t taken = decodeWholeFrame(chunk.subspan(index), delegate);
                if (taken > 0) {
                    index += taken;
                    break;
                }
                if (!isDecoding()) return;
                // The frame goes on in a later chunk: keep its bytes as they come.
                dataBuffer_.clear();
                dataBuffer_.push_back(chunk[index++]);
                offset_ = 1;
                length_ = 0;
                state_ = MQTTDecoderState::decodingLength;
                break;
            }
            case MQTTDecoderState::decodingLength: {
                dataBuffer_.push_back(chunk[index++]);
                VariableByteIntegerError error{};
                const auto length = readVariableByteInteger(std::span(dataBuffer_).subspan(1), &error);
                if (!length) {
                    if (error == VariableByteIntegerError::tooLong) {
                        failWithProtocolError(delegate);
                        return;
                    }
                    break;  // more length bytes to come
                }
                offset_ = static_cast<std::uint32_t>(1 + length->size);
                length_ = length->value;
                if (offset_ + static_cast<std::uint64_t>(length_) > frameLimit()) {
                    failWithProtocolError(delegate);
                    return;
                }
                if (length_ == 0) {
                    state_ = MQTTDecoderState::decodingHeader;
                    deliver(dataBuffer_, delegate);
                } else {
                    state_ = MQTTDecoderState::decodingData;
                }
                break;
            }
            case MQTTDecoderState::decodingData: {
                const std::size_t wanted = offset_ + length_ - dataBuffer_.size();
                const std::size_t take = std::min(wanted, chunk.size() - index);
                const auto from = chunk.begin() + static_cast<std::ptrdiff_t>(index);
                dataBuffer_.insert(dataBuffer_.end(), from, from + static_cast<std::ptrdiff_t>(take));
                index += take;
                if (take == wanted) {
                    state_ = MQTTDecoderState::decodingHeader;
                    deliver(dataBuffer_, delegate);
                }
                break;
            }
            default: return;
        }
    }
}

std::size_t MQTTDecoder::decodeWholeFrame(std::span<const std::uint8_t> bytes, MQTTDecoderDelegate* delegate) {
    if (bytes.size() < 2) return 0;
    VariableByteIntegerError error{};
    const auto length = readVariableByteInteger(bytes.subspan(1), &error);
    if (!length) {
        if (error == VariableByteIntegerError::tooLong) failWithProtocolError(delegate);
        return 0;
    }
    const std::uint64_t size = 1 + length->size + static_cast<std::uint64_t>(length->value);
    if (size > frameLimit()) {
        failWithProtocolError(delegate);
        return 0;
    }
    if (bytes.size() < size) return 0;
    deliver(bytes.first(static_cast<std::size_t>(size)), delegate);
    return static_cast<std::size_t>(size);
}

void MQTTDecoder::deliver(std::span<const std::uint8_t> frame, MQTTDecoderDelegate* delegate) {
    if (delegate != nullptr) delegate->decoderDidReceiveMessage(*this, frame);
    if (state_ == MQTTDecoderState::decodingHeader && !dataBuffer_.empty()) {
        if (dataBuffer_.capacity() > kRetainedBufferCapacity) {
            Bytes().swap(dataBuffer_);
        } else {
            dataBuffer_.clear();
        }
    }
}

void MQTTDecoder::failWithProtocolError(MQTTDecoderDelegate* delegate) {
    state_ = MQTTDecoderState::connectionError;
    pending_.clear();
    if (!decoding_) Bytes().swap(dataBuffer_);
    if (delegate != nullptr) {
        delegate->decoderHandleEvent(*this, MQTTDecoderEvent::protocolError,
                                     makeMQTTError(kMQTTErrorIllegalMessage, kMQTTErrorIllegalMessageText));
    }
}

}  // namespace ambrell
