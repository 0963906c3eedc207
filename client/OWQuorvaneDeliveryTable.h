#pragma once
// Which delegate callback a request's context reaches. Rows are tried in order; the
// first whose test the context passes picks the callback, so "projects/files/revisions"
// has its own pair while every other "projects/files..." context reaches filesReceived.
// A context that passes no row reaches no callback.
#include <string_view>

#include "client/OWQuorvaneDelegate.h"

class OWQuorvaneDeliveryTable {
  public:
    using Success = void (OWQuorvaneDelegate::*)(OWQuorvane&, const base::Value&);
    using Failure = void (OWQuorvaneDelegate::*)(OWQuorvane&, const base::Error&);

    // Null when no row matches.
    static Success successCallback(std::string_view context);
    static Failure failureCallback(std::string_view context);
};
