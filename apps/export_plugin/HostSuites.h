#pragma once
// The host suites the plug-in acquires at start-up and releases at shut-down. A suite
// the host does not give stays null; whatever needs it is skipped.
#include <functional>
#include <utility>

#include "apps/export_plugin/include/ExportControllerHost.h"

namespace exportplugin {

struct HostSuites {
    const ExportControllerSuite* exportController = nullptr;
    const ExportInfoSuite* exportInfo = nullptr;
    const ErrorSuite* error = nullptr;
    const SequenceInfoSuite* sequenceInfo = nullptr;
    const TimeSuite* time = nullptr;
    const AppSettingsSuite* appSettings = nullptr;
    const StringSuite* string = nullptr;
    const PPixSuite* ppix = nullptr;
    const PPixCreatorSuite* ppixCreator = nullptr;

    // Acquires every suite in table order; failures leave the pointer null.
    void acquire(ecSuiteBroker& broker);
    // Releases each acquired suite by name and version and clears its pointer.
    void release(ecSuiteBroker& broker);
};

// One acquisition of every suite, released through the broker that gave them when its
// last holder lets go. The plug-in holds the current one from start-up to shut-down, and
// each export holds the one it began with until it returns: a shut-down that comes while
// an export runs releases the suites once that export has unwound, never under it.
class AcquiredSuites {
  public:
    explicit AcquiredSuites(ecSuiteBroker& broker) : broker_(broker) { suites_.acquire(broker); }
    ~AcquiredSuites() { suites_.release(broker_); }
    AcquiredSuites(const AcquiredSuites&) = delete;
    AcquiredSuites& operator=(const AcquiredSuites&) = delete;

    const HostSuites& suites() const { return suites_; }

  private:
    ecSuiteBroker& broker_;
    HostSuites suites_;
};

// The host as one export calls it. Once the export has been stopped (a shut-down came),
// no call reaches the host any more: each answers as a failed call does, so what follows
// takes the answer as unknown and skips whatever needs it, and the export asks nothing
// further. Freeing a frame buffer the export made does not go through here.
class HostCalls {
  public:
    HostCalls() = default;  // never stopped
    explicit HostCalls(std::function<bool()> stopped) : stopped_(std::move(stopped)) {}

    bool stopped() const { return stopped_ && stopped_(); }

    // The host's status of `call`; a failure, without calling, once stopped.
    template <class Call>
    ecStatus call(Call&& call) const {
        return stopped() ? kNotCalled : call();
    }
    // What a host call wrote into its out-parameter when it answered with success;
    // `unknown` when it failed, whatever it left there, or was not made. Every host
    // function answers 0 for success, and the bytes a failed one leaves are no answer.
    template <class T, class Call>
    T answerOr(T unknown, Call&& call) const {
        T value = unknown;
        return this->call([&] { return call(&value); }) == ecStatusNoError ? value : unknown;
    }

  private:
    static constexpr ecStatus kNotCalled = -1;
    std::function<bool()> stopped_;
};

// The host's suite broker, or null.
ecSuiteBroker* suiteBroker(const ecStdParms* stdParms);
// The host's timeline functions, or null.
const ecTimelineFuncs* timelineFuncs(const ecStdParms* stdParms);

}  // namespace exportplugin
