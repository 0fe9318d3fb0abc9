#pragma once
// Moved to tests/support; kept so existing includes still build.
#include "support/temp_dir.h"
