// The service's API operations: each builds its fields and hands them to the request
// road. Identifiers travel as decimal text, flags as "1" (left out when not set).
#include <charconv>
#include <cmath>
#include <string>

#include "base/Random.h"
#include "client/OWQuorvane.h"
#include "support/OWLog.h"

namespace {

using Invalidation = OWQuorvaneRequest::Invalidation;

std::string id(int64_t value) {
    return std::to_string(value);
}

// Fixed-point text with `precision` decimals, the same in every locale.
std::string fixed(double value, int precision) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("0");
}

void setFlag(base::Dictionary& params, const char* name, bool on) {
    if (on) {
        params.set(name, "1");
    }
}

void setIfGiven(base::Dictionary& params, const char* name,
                const std::optional<std::string>& value) {
    if (value) {
        params.set(name, *value);
    }
}

void merge(base::Dictionary& params, const base::Dictionary& settings) {
    for (const auto& [key, value] : settings) {
        params.set(key, value);
    }
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text += items[i];
    }
    return text;
}

// The fixed fields of the file listings.
base::Dictionary fileListing(int64_t projectID, bool thumbnails, bool folders,
                             const std::optional<std::string>& parentFolder, int64_t departmentID,
                             bool showDepts) {
    base::Dictionary params{{"project_id", id(projectID)}, {"dept", id(departmentID)}};
    setFlag(params, "thumbs", thumbnails);
    setFlag(params, "folders", folders);
    setIfGiven(params, "parent", parentFolder);
    setFlag(params, "depts", showDepts);
    return params;
}

// Every cached reply of a read whose answer a write changes.
Invalidation every(const char* context) {
    return Invalidation{context, std::nullopt, std::nullopt};
}

Invalidation fileMetadata(int64_t fileID) {
    return Invalidation{"files/metadata", std::string("file_id"), id(fileID)};
}

}  // namespace

bool OWQuorvane::post(const std::string& path, const std::string& context, base::Dictionary params,
                      std::vector<OWQuorvaneRequest::Invalidation> invalidations) {
    if (!isLinked()) {
        return false;
    }
    OWQuorvaneRequest request;
    request.url = apiURLString() + path;
    request.context = context;
    request.params = std::move(params);
    request.invalidations = std::move(invalidations);
    postRequest(std::move(request));
    return true;
}

bool OWQuorvane::createProject(const std::optional<std::string>& title,
                               const std::optional<std::string>& description,
                               const std::optional<std::string>& client, int64_t status) {
    if (!title) {
        return false;
    }
    base::Dictionary params{{"title", *title}, {"status", id(status)}};
    setIfGiven(params, "description", description);
    setIfGiven(params, "client", client);
    return post("/projects/create", "projects/create", std::move(params), {every("projects")});
}

void OWQuorvane::populateProjects() {
    populateProjects(false);
}

void OWQuorvane::populateProjects(bool privateStorage) {
    post("/projects", "projects", {{"privateStorage", privateStorage ? "1" : "0"}});
}

void OWQuorvane::populateDepartmentsForProjectID(int64_t projectID) {
    post("/projects/departments", "projects/departments", {{"project_id", id(projectID)}});
}

void OWQuorvane::populateFileWorkflowsForProjectID(int64_t projectID) {
    post("/projects/workflows", "projects/workflows", {{"project_id", id(projectID)}});
}

void OWQuorvane::populateVideoFilesForProjectID(int64_t projectID, bool thumbnails) {
    populateVideoFilesForProjectID(projectID, thumbnails, false, "/", -1);
}

void OWQuorvane::populateVideoFilesForProjectID(int64_t projectID, bool thumbnails, bool folders,
                                                const std::optional<std::string>& parentFolder,
                                                int64_t departmentID, bool showDepts,
                                                bool showCommentStreams) {
    auto params =
        fileListing(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    setFlag(params, "commentstreams", showCommentStreams);
    post("/projects/files/video", "projects/files/video", std::move(params));
}

void OWQuorvane::populateAudioVideoFilesForProjectID(int64_t projectID, bool thumbnails,
                                                     bool folders,
                                                     const std::optional<std::string>& parentFolder,
                                                     int64_t departmentID, bool showDepts,
                                                     bool showCommentStreams,
                                                     const base::Dictionary& settings) {
    auto params =
        fileListing(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    setFlag(params, "commentstreams", showCommentStreams);
    merge(params, settings);
    post("/projects/files/audiovideo", "projects/files/audiovideo", std::move(params));
}

void OWQuorvane::populateFilesForProjectID(int64_t projectID, bool thumbnails, bool folders,
                                           const std::optional<std::string>& parentFolder,
                                           int64_t departmentID, bool showDepts,
                                           const std::optional<std::string>& appID,
                                           const base::Dictionary& settings) {
    auto params =
        fileListing(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    setIfGiven(params, "app_id", appID);
    merge(params, settings);
    post(appID ? "/apps/files" : "/projects/files", "projects/files", std::move(params));
}

void OWQuorvane::populateFilesForApp(const std::string& appID,
                                     const std::optional<std::string>& folder) {
    populateFilesForProjectID(-1, false, false, folder, -1, false, appID);
}

void OWQuorvane::populateFoldersForProjectID(int64_t projectID,
                                             const std::optional<std::string>& parentFolder,
                                             int64_t departmentID, bool subfolders) {
    base::Dictionary params{{"project_id", id(projectID)}, {"dept", id(departmentID)}};
    setFlag(params, "subfolders", subfolders);
    setIfGiven(params, "parent", parentFolder);
    post("/projects/folders", "projects/folders", std::move(params));
}

void OWQuorvane::populateRevisionsForFile(int64_t fileID, bool thumbnails) {
    base::Dictionary params{{"file_id", id(fileID)}};
    setFlag(params, "thumbs", thumbnails);
    post("/projects/files/revisions", "projects/files/revisions", std::move(params));
}

void OWQuorvane::populateAllEvents() {
    populateAllEventsSinceDate(std::nullopt);
}

// Events after the given second: its whole seconds plus one, so a date of 10.4 or 10.6
// seconds asks from 11 on and none of second 10 is asked for again or skipped.
void OWQuorvane::populateAllEventsSinceDate(const std::optional<base::Date>& date) {
    base::Dictionary params;
    if (date && std::isfinite(date->secondsSince1970)) {
        params.set("since", fixed(std::floor(date->secondsSince1970) + 1.0, 0));
    }
    post("/projects/events", "projects/events", std::move(params));
}

void OWQuorvane::createCommentStream(const std::string& title, int64_t projectID,
                                     int64_t departmentID, const std::string& folder, float fps,
                                     const std::string& timecode, bool dropFrame) {
    post("/commentstream/create", "commentstream/create",
         {{"project_id", id(projectID)},
          {"title", title},
          {"frame_rate", fixed(static_cast<double>(fps), 2)},
          {"timecode", timecode},
          {"drop_frame", dropFrame ? "1" : "0"},
          {"dept_id", id(departmentID)},
          {"folder", folder}});
}

void OWQuorvane::getFile(int64_t fileID) {
    post("/file", "file", {{"file_id", id(fileID)}});
}

void OWQuorvane::removeFile(int64_t fileID, const std::string& appID) {
    post("/apps/files/remove", "files/remove", {{"file_id", id(fileID)}, {"app_id", appID}});
}

void OWQuorvane::generateURLForFileWithID(int64_t fileID) {
    OWLog::appendLogAndPrint("file id: %@", id(fileID));
    post("/files/url", "files/url", {{"file_id", id(fileID)}});
}

void OWQuorvane::createFolder(const std::string& name, int64_t projectID, int64_t departmentID) {
    std::string folder = name;
    for (char& c : folder) {
        if (c == '+') {
            c = ' ';
        }
    }
    post("/folders/create", "folders/create",
         {{"folder", folder}, {"dept", id(departmentID)}, {"project_id", id(projectID)}},
         {every("projects/folders")});
}

void OWQuorvane::createFolders(const std::vector<std::string>& names, int64_t projectID,
                               int64_t departmentID) {
    post(
        "/folders/create", "folders/create",
        {{"folder", joined(names, ";")}, {"dept", id(departmentID)}, {"project_id", id(projectID)}},
        {every("projects/folders")});
}

void OWQuorvane::uploadThumbnailImage(const base::Data& jpeg, int64_t fileID) {
    if (!isLinked()) {
        return;
    }
    postURL(apiURLString() + "/files/thumb", {{"file_id", id(fileID)}}, jpeg, "image/jpeg",
            base::randomString(32) + ".jpg", "files/thumb");
}

void OWQuorvane::uploadMultipleThumbnailImages(const base::Dictionary& images, int64_t fileID) {
    if (!isLinked()) {
        return;
    }
    const std::string name = base::randomString(32);
    base::Dictionary filenames;
    for (const auto& [size, image] : images) {
        filenames.set(size, size == "small" ? name + ".jpg" : name + "-" + size + ".jpg");
    }
    postURL(apiURLString() + "/files/thumb", {{"file_id", id(fileID)}}, images, "image/jpeg",
            filenames, "files/thumb");
}

void OWQuorvane::metadataForFile(int64_t fileID) {
    post("/files/metadata", "files/metadata", {{"file_id", id(fileID)}});
}

// Entries travel as key<=|=>value, one after the other with the same separator.
void OWQuorvane::setMetadata(const base::Dictionary& metadata, int64_t fileID) {
    std::string text;
    for (const auto& [key, value] : metadata) {
        if (!text.empty()) {
            text += "<=|=>";
        }
        text += key + "<=|=>" + value.describe();
    }
    post("/files/metadata", "files/metadata", {{"file_id", id(fileID)}, {"metadata", text}},
         {fileMetadata(fileID)});
}

void OWQuorvane::approveFile(int64_t fileID, const std::optional<std::string>& comment) {
    base::Dictionary params{{"file_id", id(fileID)}};
    setIfGiven(params, "comment", comment);
    post("/files/approve", "files/approve", std::move(params));
}

void OWQuorvane::rejectFile(int64_t fileID, const std::optional<std::string>& comment) {
    base::Dictionary params{{"file_id", id(fileID)}};
    setIfGiven(params, "comment", comment);
    post("/files/reject", "files/reject", std::move(params));
}

void OWQuorvane::commentsForFileID(int64_t fileID) {
    post("/comments", "comments", {{"file_id", id(fileID)}});
}

void OWQuorvane::postComment(const std::string& body, const std::string& timecode, int64_t fileID,
                             int64_t colorID) {
    base::Dictionary params{{"file_id", id(fileID)}, {"body", body}, {"timecode", timecode}};
    if (colorID >= 0) {
        params.set("color", colorID);
    }
    post("/comments/create", "comments/create", std::move(params));
}

void OWQuorvane::editComment(const std::string& body, const std::optional<std::string>& timecode,
                             int64_t commentID, int64_t colorID) {
    base::Dictionary params{{"comment_id", id(commentID)}, {"body", body}};
    setIfGiven(params, "timecode", timecode);
    if (colorID >= 0) {
        params.set("color", colorID);
    }
    post("/comments/edit", "comments/edit", std::move(params));
}

void OWQuorvane::editComment(const std::string& body, int64_t commentID) {
    editComment(body, std::nullopt, commentID, -1);
}

void OWQuorvane::removeComment(int64_t commentID) {
    post("/comments/remove", "comments/remove", {{"comment_id", id(commentID)}});
}

void OWQuorvane::savePlaybackPosition(double position, int64_t fileID) {
    post("/files/playbackpos", "files/playbackpos",
         {{"position", fixed(position, 6)}, {"file_id", id(fileID)}});
}

void OWQuorvane::setSyncIP(const std::string& address) {
    post("/sync/localip", "sync/localip", {{"ip", address}});
}

void OWQuorvane::getRemoteControlToken() {
    post("/remote/token", "remote/token", {});
}

void OWQuorvane::sessionsForProject(int64_t projectID) {
    post("/sessions", "sessions", {{"project_id", id(projectID)}});
}

void OWQuorvane::createSession(const std::string& name,
                               const std::vector<std::string>& participants, int64_t projectID) {
    post("/sessions/create", "sessions/create",
         {{"name", name},
          {"participants", joined(participants, ",")},
          {"project_id", id(projectID)}},
         {every("sessions")});
}

void OWQuorvane::setFileID(int64_t fileID, int64_t sessionID) {
    post("/sessions/fileid", "sessions/fileid",
         {{"file_id", id(fileID)}, {"session_id", id(sessionID)}}, {every("sessions")});
}

void OWQuorvane::removeSession(int64_t sessionID) {
    post("/sessions/remove", "sessions/remove", {{"id", id(sessionID)}}, {every("sessions")});
}

void OWQuorvane::usersForProject(int64_t projectID) {
    post("/users", "users", {{"project_id", id(projectID)}});
}

void OWQuorvane::relationshipsForFile(int64_t fileID, const std::vector<std::string>& types) {
    base::Dictionary params{{"file_id", id(fileID)}};
    if (!types.empty()) {
        params.set("linktypes", joined(types, ","));
    }
    post("/relationships", "relationships", std::move(params));
}

void OWQuorvane::annotationWithID(int64_t annotationID) {
    post("/annotation", "annotation", {{"annotation_id", id(annotationID)}});
}

void OWQuorvane::setAnnotation(const std::string& data, int64_t commentID) {
    post("/annotation", "annotation", {{"comment_id", id(commentID)}, {"data", data}},
         {every("annotation")});
}

void OWQuorvane::removeAnnotationWithID(int64_t annotationID) {
    post("/annotation/remove", "annotation/remove", {{"annotation_id", id(annotationID)}},
         {every("annotation")});
}

// The two temporary-code calls work without a linked account.
void OWQuorvane::generateTempActivationCode() {
    base::Dictionary params;
    const auto account = this->account();
    setIfGiven(params, "client_id", account ? account->publicKey() : std::nullopt);
    postURL(apiURLString() + "/tempactivationcode", std::move(params), std::nullopt,
            OWQuorvaneRequest::kDefaultMIMEType, std::nullopt, "tempactivationcode", true);
}

void OWQuorvane::fetchOAuthTokenForTempCode(const std::string& code) {
    base::Dictionary params{{"temp_code", code}};
    const auto account = this->account();
    setIfGiven(params, "client_id", account ? account->publicKey() : std::nullopt);
    postURL(apiURLString() + "/fetchauthfromtempcode", std::move(params), std::nullopt,
            OWQuorvaneRequest::kDefaultMIMEType, std::nullopt, "fetchauthfromtempcode", true);
}

void OWQuorvane::canUploadToProject(int64_t projectID) {
    post("/files/canupload", "files/canupload", {{"project_id", id(projectID)}});
}

void OWQuorvane::checkUniqueProjectID(const std::string& uniqueProjectID) {
    post("/uniqueprojectid", "uniqueprojectid", {{"unique_project_id", uniqueProjectID}});
}
