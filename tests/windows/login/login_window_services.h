#pragma once
// What the login window is handed, on the fake backend, for the shots and the
// bench. Header-only, so the bench needs no test library.
#include "auth_shell_commands.h"
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "platform/backend/parse_client.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "support/fake_backend.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/inline_background_queue.h"
#include "support/recording_url_opener.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw::test {

// Queue: the main queue the services run on (virtual or real time).
template <class Queue>
struct LoginWindowServices {
    LoginWindowServices() { settings.registerDefaults(SettingsUserDefaults::defaults()); }
    AuthWindowDependencies dependencies() { return AuthWindowDependencies{auth, links, queue, shell}; }

    Queue queue;
    InlineBackgroundQueue background;
    FakeBackend backend{queue};
    FakeSecretStore secrets;
    FakeSettingsStore settings;
    FakeImageCodec codec;
    FakeSystemInfo system;
    ParseClient parse{FakeBackend::clientConfig(), backend, queue, secrets, settings};
    ApplicationModel model{ApplicationModelEnvironment{settings, queue, background, codec, backend, system}};
    SecretStoreQueue keychain{unownedSecretStore(secrets), queue, background};
    AuthService auth{parse, keychain, model, "com.havenway.login-window"};
    LinksManager links{model};
    RecordingURLOpener opener;
    AuthShellCommands shell;
    BaseControllerContext context{model, nullptr, opener};
};

}  // namespace hw::test
