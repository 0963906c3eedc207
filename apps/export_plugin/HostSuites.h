#pragma once
// The host suites the plug-in acquires at start-up and releases at shut-down. A suite
// the host does not give stays null; whatever needs it is skipped.
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

// The host's suite broker, or null.
ecSuiteBroker* suiteBroker(const ecStdParms* stdParms);
// The host's timeline functions, or null.
const ecTimelineFuncs* timelineFuncs(const ecStdParms* stdParms);

}  // namespace exportplugin
