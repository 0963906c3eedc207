#include "apps/share_destination/SAMDocumentController.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <cctype>

#include "apps/share_destination/SAMWindowController.h"

namespace {

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

SAMDocumentController& SAMDocumentController::sharedDocumentController() {
    static SAMDocumentController* shared = new SAMDocumentController();  // lives with the process
    return *shared;
}

std::shared_ptr<SAMDocument> SAMDocumentController::currentDocument() const {
    const QWidget* active = QApplication::activeWindow();
    for (const auto& document : documents_) {
        const SAMWindowController* window = document->primaryWindowController();
        if (active && window && window->window() == active) {
            return document;
        }
    }
    return nullptr;
}

std::shared_ptr<SAMDocument> SAMDocumentController::targetDocument(bool display) {
    if (auto current = currentDocument()) {
        return current;
    }
    if (!documents_.empty()) {
        return documents_.front();
    }
    return openUntitledDocumentAndDisplay(display);
}

std::shared_ptr<SAMDocument> SAMDocumentController::openUntitledDocumentAndDisplay(bool display) {
    auto document = SAMDocument::create();
    addDocument(document);
    if (display && document->primaryWindowController()) {
        document->primaryWindowController()->showWindow();
    }
    return document;
}

void SAMDocumentController::addDocument(std::shared_ptr<SAMDocument> document) {
    document->setContainer("documents");
    document->makeWindowControllers();
    documents_.push_back(std::move(document));
}

void SAMDocumentController::removeDocument(const std::shared_ptr<SAMDocument>& document) {
    std::erase(documents_, document);
}

std::shared_ptr<SAMDocument> SAMDocumentController::documentWithUniqueID(
    const std::string& uniqueID) const {
    for (const auto& document : documents_) {
        if (document->uniqueID() == uniqueID) {
            return document;
        }
    }
    return nullptr;
}

std::optional<std::string> SAMDocumentController::typeForContentsOfURL(
    const platform::scripting::FileURL& url, base::Error* error) const {
    const std::string extension = lowercase(url.pathExtension());
    if (extension == "mov" || extension == "mp4") {
        return std::string(kMediaFileType);
    }
    if (extension == "fcpxml") {
        return std::string(kDescriptionFileType);
    }
    if (extension == SAMDocument::kFileExtension) {
        return std::string(SAMDocument::kTypeName);
    }
    if (error) {
        *error = base::Error::withDescription(
            "NSCocoaErrorDomain", 256,
            "The file \"" + url.lastPathComponent() + "\" couldn't be opened.");
    }
    return std::nullopt;
}

void SAMDocumentController::openDocumentWithContentsOfURL(const platform::scripting::FileURL& url,
                                                          bool display,
                                                          const Completion& completion) {
    base::Error error("", 0);
    const auto type = typeForContentsOfURL(url, &error);
    if (!type) {
        completion(std::monostate{}, false, error);
        return;
    }
    if (*type == kMediaFileType || *type == kDescriptionFileType) {
        auto document = targetDocument(display);
        const uint64_t index = document->addURL(url, true, {}, {});
        completion(document->assetAtIndex(index), false, std::nullopt);
        return;
    }
    for (const auto& open : documents_) {
        if (open->fileURL() == url) {
            completion(open, true, std::nullopt);
            return;
        }
    }
    auto document = SAMDocument::createWithContentsOfURL(url, *type, &error);
    if (!document) {
        completion(std::monostate{}, false, error);
        return;
    }
    addDocument(document);
    if (display && document->primaryWindowController()) {
        document->primaryWindowController()->showWindow();
    }
    completion(document, false, std::nullopt);
}

void SAMDocumentController::closeAll() {
    documents_.clear();
}
