#pragma once
#include <functional>
#include <memory>
#include <utility>

namespace hw {

// A field made on first read. Assigning none makes the next read build a
// fresh object; an absent maker leaves the field empty.
template <class T>
class LazyField {
public:
    using Maker = std::function<std::shared_ptr<T>()>;

    LazyField() = default;
    explicit LazyField(Maker maker) : maker_(std::move(maker)) {}

    const std::shared_ptr<T>& get() {
        if (!value_ && maker_) value_ = maker_();
        return value_;
    }
    void set(std::shared_ptr<T> value) { value_ = std::move(value); }
    void setMaker(Maker maker) { maker_ = std::move(maker); }
    bool isMade() const { return value_ != nullptr; }
    const std::shared_ptr<T>& peek() const { return value_; }

private:
    Maker maker_;
    std::shared_ptr<T> value_;
};

}  // namespace hw
