#include "apps/export_plugin/HostSuites.h"

#include <type_traits>

namespace exportplugin {

namespace {

// Each suite's pointer with its name and version, in the order they are acquired.
template <class F>
void forEachSuite(HostSuites& s, F&& f) {
    f(s.exportController, kExportControllerSuite, kExportControllerSuiteVersion);
    f(s.exportInfo, kExportInfoSuite, kExportInfoSuiteVersion);
    f(s.error, kErrorSuite, kErrorSuiteVersion);
    f(s.sequenceInfo, kSequenceInfoSuite, kSequenceInfoSuiteVersion);
    f(s.time, kTimeSuite, kTimeSuiteVersion);
    f(s.appSettings, kAppSettingsSuite, kAppSettingsSuiteVersion);
    f(s.string, kStringSuite, kStringSuiteVersion);
    f(s.ppix, kPPixSuite, kPPixSuiteVersion);
    f(s.ppixCreator, kPPixCreatorSuite, kPPixCreatorSuiteVersion);
}

}  // namespace

void HostSuites::acquire(ecSuiteBroker& broker) {
    forEachSuite(*this, [&broker](auto& pointer, const char* name, int32_t version) {
        const void* suite = nullptr;
        if (broker.AcquireSuite && broker.AcquireSuite(name, version, &suite) == ecStatusNoError) {
            pointer = static_cast<std::remove_reference_t<decltype(pointer)>>(suite);
        } else {
            pointer = nullptr;
        }
    });
}

void HostSuites::release(ecSuiteBroker& broker) {
    forEachSuite(*this, [&broker](auto& pointer, const char* name, int32_t version) {
        if (pointer && broker.ReleaseSuite) {
            broker.ReleaseSuite(name, version);
        }
        pointer = nullptr;
    });
}

ecSuiteBroker* suiteBroker(const ecStdParms* stdParms) {
    if (!stdParms || !stdParms->funcs || !stdParms->funcs->utilityFuncs ||
        !stdParms->funcs->utilityFuncs->getSuiteBroker) {
        return nullptr;
    }
    return stdParms->funcs->utilityFuncs->getSuiteBroker();
}

const ecTimelineFuncs* timelineFuncs(const ecStdParms* stdParms) {
    return stdParms && stdParms->funcs ? stdParms->funcs->timelineFuncs : nullptr;
}

}  // namespace exportplugin
