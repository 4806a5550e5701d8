#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace ambrell::platform {

// A labelled serial queue on the shared thread pool. Blocks run one at a time
// in the order they were queued. On a serial queue a barrier block is an
// ordinary block, so asyncBarrier() exists only to keep call sites telling.
class DispatchQueue {
public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    [[nodiscard]] const std::string& label() const;
    // True while the calling thread runs a block of this queue.
    [[nodiscard]] bool isCurrent() const;

    // A block that throws is logged; the queue goes on. Once the runtime has
    // shut down the block is refused: logged and dropped.
    void async(std::function<void()> block) const;
    void asyncBarrier(std::function<void()> block) const { async(std::move(block)); }

    // Runs the block on the queue and waits for it; runs it inline when the
    // caller is already on this queue, so a nested sync cannot deadlock.
    // Exceptions thrown by the block reach the caller. Throws
    // BlockingCallError on any other pool thread: a pool thread that blocks
    // starves the work it waits for. Throws RuntimeStoppedError, without
    // running the block, once the runtime's shutdown has begun.
    template <typename Block>
    auto sync(Block&& block) const -> std::invoke_result_t<Block&> {
        using Result = std::invoke_result_t<Block&>;
        if constexpr (std::is_void_v<Result>) {
            runSync([&block] { block(); });
        } else {
            std::optional<Result> result;
            runSync([&block, &result] { result.emplace(block()); });
            return std::move(*result);
        }
    }

private:
    void runSync(const std::function<void()>& block) const;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::platform
