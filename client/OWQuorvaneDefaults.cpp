// A client wired to the process's own account, loader, cache and notification centre.
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneURLLoader.h"

std::shared_ptr<OWQuorvane> OWQuorvane::create(
    const std::shared_ptr<OWQuorvaneDelegate>& delegate) {
    Services services;
    services.loader = OWQuorvaneURLLoader::shared();
    return create(delegate, std::move(services));
}
