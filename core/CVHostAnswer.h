#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "platform/runtime/Guarded.h"
#include "platform/runtime/Task.h"

namespace ambrell {

// A host's completion handler, called exactly once: with the answer the work
// gives, or, when the work's task fails, is cancelled (the runtime's shutdown
// cancels every task) or cannot start at all, with `fallback` (an empty
// answer), the failure logged as an error. Host completions of look-ups carry
// no error, and a host that waits for one must never wait forever.
template <typename T>
class CVHostAnswer {
public:
    using Completion = std::function<void(T)>;

    CVHostAnswer(std::string operation, Completion completion, T fallback)
        : state_(std::make_shared<State>(std::move(operation), std::move(completion), std::move(fallback))) {}

    // The first answer goes to the host; later ones are dropped. A host
    // completion that throws is logged, never let into the SDK's work.
    void answer(T value) const {
        if (state_->answered.exchange(true)) return;
        call(std::move(value));
    }

    // The task ended: the fallback when nothing was answered.
    void finish(const std::exception_ptr& error) const {
        if (state_->answered.exchange(true)) return;
        CVLog::core().error("{} ended without its answer: {}", state_->operation,
                            error ? errorDescription(errorObjectFor(error)) : std::string("no answer was given"));
        call(state_->fallback);
    }

    // Starts `work(answer)` in a task of its own, which answers through the
    // answer it is given; whatever way the task ends, the host is answered.
    template <typename Work>
    static void startTask(std::string operation, Completion completion, T fallback, Work work) {
        const CVHostAnswer host(std::move(operation), std::move(completion), std::move(fallback));
        platform::Task::start([host, work = std::move(work)]() mutable { return work(host); },
                              [host](platform::TaskResult<void> outcome) { host.finish(outcome.error()); });
    }

private:
    struct State {
        State(std::string name, Completion host, T empty)
            : operation(std::move(name)), completion(std::move(host)), fallback(std::move(empty)) {}
        std::string operation;
        Completion completion;
        T fallback;
        std::atomic<bool> answered{false};
    };

    void call(T value) const {
        if (!state_->completion) return;
        platform::runGuarded("A completion handler", [this, &value] { state_->completion(std::move(value)); });
    }

    std::shared_ptr<State> state_;
};

}  // namespace ambrell
