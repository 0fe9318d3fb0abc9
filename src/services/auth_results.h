#pragma once

namespace hw {

// The outcome of a sign-in.
enum class AuthResults { success, failure, error };

}  // namespace hw
