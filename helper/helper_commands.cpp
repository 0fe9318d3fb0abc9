#include "helper/helper_services.h"

namespace hw::helper {

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
}

}  // namespace hw::helper
