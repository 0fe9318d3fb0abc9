// Feeds arbitrary bytes to the helper message decoder, alone and with a
// couple of real descriptors beside them, as a hostile peer could send.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/helper_message.h"
#include "platform/helper_socket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::vector<hw::UniqueFd> fds;
    if (size > 0 && (data[0] & 1)) {
        auto [a, b] = hw::makeHelperSocketPair();
        fds.push_back(std::move(a));
        fds.push_back(std::move(b));
    }
    auto env = hw::decodeHelperMessage(bytes, std::move(fds), &error);
    if (env) {
        // Whatever the decoder accepts, the encoder must be able to send on.
        auto frame = hw::encodeHelperMessage(env->message, env->replyChannel.get(), &error);
        if (!frame) __builtin_trap();
    }
    return 0;
}
