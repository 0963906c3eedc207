/*
 * The export-controller interface between a video editor (the host) and an export
 * plug-in loaded into it. The host opens the plug-in library and calls its one entry
 * point, xExportControllerEntry, with a selector, the host's standard parameters and the
 * selector's record. Everything else the plug-in needs it acquires from the host as
 * suites: tables of C functions found by name and version through the suite broker.
 *
 * Only what the plug-in relies on is fixed here. A suite's functions sit at fixed
 * positions; positions the plug-in does not use are reserved slots that a host may fill
 * with anything (or leave null) and that the plug-in never calls.
 *
 * Conventions: every function returns an ecStatus (0 for success) unless it says
 * otherwise, and what a call that fails leaves in its out-parameters is no answer: the
 * plug-in takes the value as unknown (no frame rate, zero point 0, not drop-frame, no
 * thumbnail without the frame's bounds, the first frame without a position); texts
 * passed as UTF-16 are zero-terminated arrays of code units in the machine's byte
 * order, without a byte-order mark; times are counted in ticks, whose number per second
 * the time suite gives.
 *
 * Plain C: the same header serves a host written in any language.
 */
#ifndef QUORV_EXPORT_CONTROLLER_HOST_H
#define QUORV_EXPORT_CONTROLLER_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ecStatus;
typedef uint16_t ecUTF16Char;
typedef int64_t ecTicks;
typedef int32_t ecTimelineID;
typedef void (*ecReservedFunc)(void);

/* ---- statuses of the entry point ---- */
#define ecStatusNoError ((ecStatus)0)
/* One export: the user cancelled, the plug-in was shut down during it, or no temporary
 * movie could be made. */
#define ecStatusCancelled ((ecStatus)1)
/* One export: the render preset shipped with the plug-in is missing. */
#define ecStatusPresetMissing ((ecStatus)-1)
/* One export: the host did not give what an export needs (the ExportController suite
 * with its render); the plug-in reports it through the error suite and shows nothing
 * else. */
#define ecStatusSuiteMissing ((ecStatus)-2)
/* A selector the plug-in does not handle. */
#define ecStatusUnsupportedSelector ((ecStatus)-100)
/* A host function called in a way it cannot serve (the application-settings suite
 * answers so when there is no project to speak of). */
#define ecStatusInvalidCall ((ecStatus)(int32_t)0x80000003u)

/* ---- selectors ---- */
enum {
    ecStartup = 0,        /* record: ExportControllerInitRec */
    showExportDialog = 1, /* record: ExportControllerTimelineInfoRec */
    ecShutdown = 7        /* record: none (may be null) */
};
/* Shut-down during an export. A host may call ecShutdown while an export is running:
 * from inside any host function that export called (a timing question, its render, the
 * thumbnail's frame bounds, position, frame buffer or frame render), or from another
 * thread. Shut-down does not wait for that export; the export notices before its next
 * host call and ends there: nothing more is asked, rendered or uploaded, the movie it
 * asked for is removed, and its entry call returns ecStatusCancelled (or the render's
 * own negative status). Once ecShutdown has returned, the export calls the host only to
 * free a frame buffer it made or a host string it was given; the suites it uses stay
 * acquired until its entry call returns and are released then, each once. With no
 * export running, shut-down releases them before it returns. */

/* ---- records ---- */

/* Start-up: the plug-in writes the name of its menu entry at the record's start as
 * UTF-16 code units, one per character, followed by a zero unit when it fits; the rest
 * of the record stays as the host provided it. */
#define ecMenuNameCapacity 256
typedef struct ExportControllerInitRec {
    ecUTF16Char menuName[ecMenuNameCapacity];
} ExportControllerInitRec;

/* One export: which timeline to export. hostValue is the host's own and goes back to
 * the ExportController suite unchanged. */
typedef struct ExportControllerTimelineInfoRec {
    int64_t hostValue;
    ecTimelineID timelineID;
} ExportControllerTimelineInfoRec;

/* A frame rectangle in pixels. */
typedef struct ecRect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} ecRect;

/* A frame buffer: host memory of rows of pixels. Its rows are stored bottom row first:
 * the pixel address is the start of the frame's lowest row and each row lies rowBytes
 * after the one below it. rowBytes may exceed width x 4 (padding at each row's end). */
typedef struct ecPPix* ecPPixHand;

/* A host string; opaque, disposed of through the string suite. */
typedef struct ecHostStringRec {
    uint64_t opaque[2];
} ecHostString;

/* Pixel format of the frame buffers the plug-in asks for: four bytes per pixel, in
 * memory blue, green, red, alpha (the four-character code 'bgra'). */
#define ecPixelFormatBGRA ((uint32_t)0x62677261u)
/* Access mode of a frame buffer the plug-in creates and then reads and writes. */
#define ecPPixAccessReadWrite ((int32_t)2)

/* ---- the host's standard parameters ---- */

typedef struct ecSuiteBroker {
    /* Acquires the suite `name` in `version`: *suite receives the function table, or
     * null with a non-zero status. */
    ecStatus (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    /* Releases one acquisition of the suite `name` in `version`. */
    ecStatus (*ReleaseSuite)(const char* name, int32_t version);
} ecSuiteBroker;

typedef struct ecUtilityFuncs {
    ecReservedFunc reserved1[7];
    /* 8: the suite broker, or null when the host offers none. */
    ecSuiteBroker* (*getSuiteBroker)(void);
} ecUtilityFuncs;

typedef struct ecTimelineFuncs {
    ecReservedFunc reserved1[11];
    /* 12: the current position of the timeline, in ticks. */
    ecStatus (*getCurrentPos)(ecTimelineID timeline, ecTicks* position);
    ecReservedFunc reserved13[2];
    /* 15: renders the frame at `position` into `frame` (a frame buffer of `bounds` in
     * `pixelFormat`). The plug-in passes 1, 1, 1 and 0 for the four options. */
    ecStatus (*renderFrame)(ecTimelineID timeline, ecTicks position, ecPPixHand frame,
                            const ecRect* bounds, uint32_t pixelFormat, int32_t option1,
                            int32_t option2, int32_t option3, int32_t option4);
} ecTimelineFuncs;

typedef struct ecHostCallbacks {
    const ecUtilityFuncs* utilityFuncs;
    const ecTimelineFuncs* timelineFuncs;
} ecHostCallbacks;

typedef struct ecStdParms {
    const ecHostCallbacks* funcs;
} ecStdParms;

/* The entry point every export controller exports. */
typedef ecStatus (*xExportControllerEntryFunc)(int32_t selector, ecStdParms* stdParms,
                                               void* record);
#define ecEntryPointName "xExportControllerEntry"

/* ---- suites: name, version, functions by position ---- */

#define kExportControllerSuite "Premiere ExportController Suite"
#define kExportControllerSuiteVersion 1
/* Where the host renders a timeline to: output file first, preset file second. */
typedef struct ecRenderPathsRec {
    const ecUTF16Char* outputFile;
    const ecUTF16Char* presetFile;
} ecRenderPathsRec;
#define ecTimelineQuerySize 256
typedef struct ExportControllerSuite {
    /* 1: tells the host a timeline is about to be exported; fills `info` (256 bytes). */
    ecStatus (*QueryTimeline)(int64_t hostValue, ecTimelineID timeline, void* info);
    /* 2: renders the timeline into the output file with the preset's settings; a
     * negative status on failure. */
    ecStatus (*RenderTimelineToFile)(int64_t hostValue, ecTimelineID timeline,
                                     const ecRenderPathsRec* paths);
} ExportControllerSuite;

#define kExportInfoSuite "MediaCore Export Info Suite"
#define kExportInfoSuiteVersion 1
typedef struct ExportInfoSuite {
    ecReservedFunc reserved1;
} ExportInfoSuite;

#define kErrorSuite "Premiere Error Suite"
#define kErrorSuiteVersion 3
/* Event types of ReportEvent. */
#define ecEventTypeInformational ((uint32_t)1)
#define ecEventTypeWarning ((uint32_t)2)
#define ecEventTypeError ((uint32_t)3)
typedef struct ErrorSuite {
    /* 1: puts an event in front of the user (and in the host's event list). */
    ecStatus (*ReportEvent)(uint32_t eventType, const ecUTF16Char* title,
                            const ecUTF16Char* text);
} ErrorSuite;

#define kSequenceInfoSuite "MediaCore Sequence Info Suite"
#define kSequenceInfoSuiteVersion 3
typedef struct SequenceInfoSuite {
    /* 1: the timeline's frame rectangle. */
    ecStatus (*GetFrameBounds)(ecTimelineID timeline, ecRect* bounds);
    /* 2: two further 32-bit values of the timeline's frame. */
    ecStatus (*GetFrameValues)(ecTimelineID timeline, uint32_t* first, uint32_t* second);
    /* 3: ticks per frame. */
    ecStatus (*GetFrameRate)(ecTimelineID timeline, ecTicks* ticksPerFrame);
    ecReservedFunc reserved4;
    /* 5: the time of the timeline's first frame on its timecode, in ticks. */
    ecStatus (*GetZeroPoint)(ecTimelineID timeline, ecTicks* zeroPoint);
    /* 6: whether the timecode drops frames (non-zero) or not (0). */
    ecStatus (*GetTimecodeDropFrame)(ecTimelineID timeline, int32_t* dropFrame);
} SequenceInfoSuite;

#define kTimeSuite "Premiere Time Suite"
#define kTimeSuiteVersion 1
/* Frame-rate codes of GetTicksPerVideoFrame. */
enum {
    ecVideoRate24 = 0,
    ecVideoRate23976 = 1,
    ecVideoRate25 = 2,
    ecVideoRate30 = 3,
    ecVideoRate2997 = 4,
    ecVideoRate50 = 5,
    ecVideoRate60 = 6,
    ecVideoRate5994 = 7
};
typedef struct TimeSuite {
    /* 1: the ticks in one second. */
    ecStatus (*GetTicksPerSecond)(ecTicks* ticksPerSecond);
    /* 2: the ticks of one frame at the rate `rateCode`. */
    ecStatus (*GetTicksPerVideoFrame)(int32_t rateCode, ecTicks* ticksPerFrame);
} TimeSuite;

#define kAppSettingsSuite "MediaCore Application Settings Suite"
#define kAppSettingsSuiteVersion 1
typedef struct AppSettingsSuite {
    ecReservedFunc reserved1;
    /* 2: the path of the current project (empty when it was never saved); the caller
     * disposes of the string. ecStatusInvalidCall when there is no project. */
    ecStatus (*GetProjectPath)(ecHostString* path);
} AppSettingsSuite;

#define kStringSuite "MediaCore StringSuite"
#define kStringSuiteVersion 1
typedef struct StringSuite {
    /* 1: frees the string. */
    ecStatus (*DisposeString)(ecHostString* string);
    ecReservedFunc reserved2;
    /* 3: copies the string as zero-terminated UTF-8 into `buffer` of *size bytes. With
     * a null buffer, *size receives the bytes needed (the terminator included). */
    ecStatus (*CopyToUTF8String)(const ecHostString* string, char* buffer, uint32_t* size);
} StringSuite;

#define kPPixSuite "Premiere PPix Suite"
#define kPPixSuiteVersion 1
typedef struct PPixSuite {
    /* 1: frees a frame buffer made by the PPix creator suite. */
    ecStatus (*Dispose)(ecPPixHand frame);
    /* 2: the address of the frame buffer's pixels (its lowest row). */
    ecStatus (*GetPixels)(ecPPixHand frame, int32_t accessMode, char** pixels);
    ecReservedFunc reserved3;
    /* 4: the bytes from the start of one row to the next. */
    ecStatus (*GetRowBytes)(ecPPixHand frame, int32_t* rowBytes);
} PPixSuite;

#define kPPixCreatorSuite "Premiere PPix Creator Suite"
#define kPPixCreatorSuiteVersion 1
typedef struct PPixCreatorSuite {
    /* 1: a new frame buffer of `bounds` in `pixelFormat`; *frame is null on failure. */
    ecStatus (*CreatePPix)(ecPPixHand* frame, int32_t accessMode, uint32_t pixelFormat,
                           const ecRect* bounds);
} PPixCreatorSuite;

#ifdef __cplusplus
}
#endif

#endif /* QUORV_EXPORT_CONTROLLER_HOST_H */
