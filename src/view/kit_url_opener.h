#pragma once
#include "platform/url_opener.h"

namespace hw {

// The opener that links use unless given their own; the shell installs it at start.
void setKitURLOpener(URLOpener* opener);
URLOpener* kitURLOpener();

}  // namespace hw
