#include "core/try_catch_finally.h"

#include <utility>

namespace hw {

TryCatchFinally::TryCatchFinally(TryFunc tryFunc) : tryFunc_(std::move(tryFunc)) {}

TryCatchFinally& TryCatchFinally::onCatch(CatchFunc catchFunc) {
    catchFunc_ = std::move(catchFunc);
    return *this;
}

TryCatchFinally& TryCatchFinally::onFinally(FinallyFunc finallyFunc) {
    finallyFunc_ = std::move(finallyFunc);
    return *this;
}

void TryCatchFinally::run() {
    if (ran_) return;
    ran_ = true;
    tryCatchFinally(tryFunc_, catchFunc_, finallyFunc_);
}

void tryCatchFinally(const std::function<void()>& tryBlock,
                     const std::function<void(const std::exception&)>& catchBlock,
                     const std::function<void()>& finallyBlock) {
    std::exception_ptr pending;
    try {
        if (tryBlock) tryBlock();
    } catch (const std::exception& e) {
        try {
            if (catchBlock) catchBlock(e);
        } catch (...) {
            pending = std::current_exception();
        }
    } catch (...) {
        pending = std::current_exception();
    }
    // A throwing finally step replaces the pending exception, as in a
    // try/finally block.
    if (finallyBlock) finallyBlock();
    if (pending) std::rethrow_exception(pending);
}

}  // namespace hw
