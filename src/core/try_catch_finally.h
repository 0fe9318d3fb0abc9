#pragma once
#include <exception>
#include <functional>

namespace hw {

// Runs work with a catch and a finally step, like a try/catch/finally block
// that can be handed around. Nothing happens until run() is called: work
// never runs from a destructor, so nothing can throw out of one.
//
// run(): the try step runs; if it throws a std::exception the catch step gets
// it (and whatever the catch step throws is kept pending); anything else it
// throws is kept pending. The finally step always runs; if it throws, that
// propagates. Otherwise a pending exception is rethrown.
class [[nodiscard]] TryCatchFinally {
public:
    using TryFunc = std::function<void()>;
    using CatchFunc = std::function<void(const std::exception&)>;
    using FinallyFunc = std::function<void()>;

    explicit TryCatchFinally(TryFunc tryFunc);

    TryCatchFinally& onCatch(CatchFunc catchFunc);
    TryCatchFinally& onFinally(FinallyFunc finallyFunc);
    // Runs once; a second call does nothing.
    void run();

private:
    TryFunc tryFunc_;
    CatchFunc catchFunc_;
    FinallyFunc finallyFunc_;
    bool ran_ = false;
};

void tryCatchFinally(const std::function<void()>& tryBlock,
                     const std::function<void(const std::exception&)>& catchBlock,
                     const std::function<void()>& finallyBlock);

}  // namespace hw
