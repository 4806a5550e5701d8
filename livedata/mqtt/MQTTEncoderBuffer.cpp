#include "livedata/mqtt/MQTTEncoderBuffer.h"

#include <algorithm>

namespace ambrell {

MQTTEncoderState MQTTEncoderBuffer::state() const { return state_; }

void MQTTEncoderBuffer::setReady() {
    if (state_ == MQTTEncoderState::initializing) state_ = MQTTEncoderState::ready;
}

void MQTTEncoderBuffer::setError() { state_ = MQTTEncoderState::error; }

void MQTTEncoderBuffer::reset() {
    state_ = MQTTEncoderState::initializing;
    inFlight_.clear();
    inFlightOffset_ = 0;
    queued_.clear();
    writing_ = false;
}

bool MQTTEncoderBuffer::send(std::span<const std::uint8_t> bytes) {
    if (state_ != MQTTEncoderState::ready) return false;
    queued_.insert(queued_.end(), bytes.begin(), bytes.end());
    return true;
}

std::span<const std::uint8_t> MQTTEncoderBuffer::beginWrite() {
    if (writing_) return {};
    if (inFlightOffset_ > 0) {
        inFlight_.erase(inFlight_.begin(), inFlight_.begin() + static_cast<std::ptrdiff_t>(inFlightOffset_));
        inFlightOffset_ = 0;
    }
    if (inFlight_.empty()) {
        inFlight_.swap(queued_);
    } else {
        inFlight_.insert(inFlight_.end(), queued_.begin(), queued_.end());
        queued_.clear();
    }
    if (inFlight_.empty()) return {};
    writing_ = true;
    return inFlight_;
}

void MQTTEncoderBuffer::finishWrite(std::size_t written) {
    if (!writing_) return;
    writing_ = false;
    inFlightOffset_ += std::min(written, inFlight_.size() - inFlightOffset_);
    if (inFlightOffset_ == inFlight_.size()) {
        inFlight_.clear();
        inFlightOffset_ = 0;
    }
}

bool MQTTEncoderBuffer::isWriting() const { return writing_; }

std::size_t MQTTEncoderBuffer::size() const { return inFlight_.size() - inFlightOffset_ + queued_.size(); }

bool MQTTEncoderBuffer::empty() const { return size() == 0; }

}  // namespace ambrell
