#pragma once
// The services a window that creates accounts needs, on a fake backend.
#include "core/uuid_helper.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/links_manager.h"
#include "support/fake_backend.h"
#include "support/fake_hub_factory.h"
#include "support/fake_system_info.h"

namespace hw::shots {

struct SignUpServices {
    SignUpServices(test::FakeHubFactory& factory, ApplicationModel& model)
        : backend(factory.queue),
          parse(test::FakeBackend::clientConfig(), backend, factory.queue, factory.keychain, factory.store),
          uuid(factory.keychain, system, "svc"),
          auth(parse, factory.keychain, model, "svc"),
          service(parse, backend, uuid, factory.queue),
          links(model) {}

    test::FakeBackend backend;
    ParseClient parse;
    test::FakeSystemInfo system;
    UUIDHelper uuid;
    AuthService auth;
    FreeTrialSignUpService service;
    LinksManager links;
};

}  // namespace hw::shots
