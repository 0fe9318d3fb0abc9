#pragma once
#include <memory>

#include "core/application_model_ports.h"
#include "platform/backend/parse_file.h"

namespace hw {

// A backend client file as the state object's map file.
class ParseBackendFile final : public BackendFile {
public:
    explicit ParseBackendFile(ParseFilePtr file) : file_(std::move(file)) {}
    bool isDataAvailable() const override { return file_->isDataAvailable(); }
    std::optional<Bytes> getData() override { return file_->getData(); }
    void getDataInBackground(std::function<void(std::optional<Bytes>)> completion) override {
        file_->getDataInBackground([completion = std::move(completion)](std::optional<Bytes> data,
                                                                        OptionalParseError error) {
            completion(error ? std::nullopt : std::move(data));
        });
    }
    const ParseFilePtr& file() const { return file_; }

private:
    ParseFilePtr file_;
};

}  // namespace hw
